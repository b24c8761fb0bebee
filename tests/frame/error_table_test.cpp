#include <gtest/gtest.h>

#include <set>

#include "doralex/frame/error_text_table.h"

namespace dlx {
namespace {

struct ExpectedRow {
  uint32_t code;
  uint32_t alternate;
  const char* message;
};

// The error-code table as the host's texts and the phone owners' support
// documents rely on it, typos included.
const ExpectedRow kExpected[] = {
    {0x100, 0xF00, "ComPort is alrady open"},
    {0x101, 0xF00, "ComOpen : error on CreateFile"},
    {0x102, 0xF01, "Error on Changing Com-State"},
    {0x103, 0xF00, "ComPort is not open"},
    {0x104, 0xF00, "Error on Changing Timeout"},
    {0x105, 0xF00, "Error on getting baudrate"},
    {0x106, 0xF00, "Error on configuring, false baudrate"},
    {0x107, 0xF00, "Error on WriteFile"},
    {0x108, 0xF00, "Error on ReadFile"},
    {0x109, 0xF00, "Invalid Handle for Com-Port"},
    {0x200, 0, "No version number of Serial Low-DLL available"},
    {0x201, 0xF01, "Error in HandleDefaultCmdBlocks"},
    {0x202, 0xF01, "Error on waiting for CMD-Block"},
    {0x203, 0xF01, "Maximum Bin-length reached"},
    {0x204, 0xF01, "Unknown Byte %02X received"},
    {0x205, 0xF01, "Receive-Timeout, nothing received"},
    {0x206, 0xF01, "Unknown character received, now flushing inbuf"},
    {0x207, 0xF01, "Unknown retval %d from ReceiveValue Value received = %02Xh"},
    {0x208, 0xF01, "Aborting due to transmission-error"},
    {0x209, 0xF01, "Check sum error"},
    {0x20A, 0xF01, "Unexpected Cmd-Block received"},
    {0x20B, 0xF01, "Error on serial interface"},
    {0x20C, 0xF01, "Error on read CMD-Block"},
    {0x20D, 0xF01, "Timeout on waiting for FF"},
    {0x300, 0xF01, "Error on waiting for FlashBlock-EraseReady"},
    {0x301, 0xF01, "Error on sending Erase-Flash-Block-CMD"},
    {0x302, 0xF02, "Wrong Erase-Address, not possible from %lXh to %lXh"},
    {0x303, 0, "No memory on malloc for Flash-Areas"},
    {0x304, 0xF01, "Unknown Answer from Mobile on request for Erase-Area"},
    {0x305, 0xF01, "Timeout-Error waiting for Test-Area-ACK"},
    {0x306, 0, "Mobile requested signature, but software doesn't support it"},
    {0x307, 0, "Mobile requested signature, but signature data are not available"},
    {0x308, 0, "Software signature was rejected"},
    {0x309, 0, "Software signature negotiation failure (%02X)"},
    {0x400, 0xF05, "Error on RAM-Test with FF"},
    {0x401, 0xF05, "Error on RAM-Test with pattern"},
    {0x402, 0xF05, "Error on RAM-Test with 00"},
    {0x403, 0xF05, "Unknown Error on RAM-Test"},
    {0x404, 0, "Erase-Error Block %d : Vpp voltage range"},
    {0x405, 0, "Erase-Error Block %d : Error in the command sequence"},
    {0x406, 0, "Erase-Error Block %d : Erase not possible"},
    {0x407, 0, "Erase-Error Block %d : Block does not exist"},
    {0x408, 0, "Byte-Program-Error Nr:  %d on adress %02X%02X%02X"},
    {0x409, 0, "Check-sum-error final test"},
    {0x40A, 0, "Unknown flash"},
    {0x40B, 0, "Function not supported until now in Mobile"},
    {0x40C, 0, "Unknown Mobile-Error: %02X"},
    {0x500, 0, "No CallBackFunctions for BFB-Lib installed"},
    {0x501, 0, "Could not open Comport for BFB-Lib, maybe Comport is in use"},
    {0x502, 0, "Could not switch on Mobile"},
    {0x503, 0xF00, "Could not Ping Mobile"},
    {0x504, 0, "This file can't be updated with new concept"},
    {0x505, 0, "No answer from Mobile, maybe not with new Update-Concept ?"},
    {0x506, 0, "BFB : ready and false"},
    {0x507, 0, "Error on requesting customer reboot"},
    {0x508, 0, "Error on requesting put count"},
    {0x600, 0xF02, "No Date/Time-Info available, impossible to DIFF-Swup"},
    {0x601, 0xF02, "Wrong Date/Time for DIFF-SWUP ! XDI must fit exactly to SW in Mobile"},
    {0x602, 0xF01, "No Request for Update-SW after Bootstraploader"},
    {0x603, 0, "Error on requesting update-sw"},
    {0x604, 0xF01, "Opening Comport %d with Speed %d Baud not possible"},
    {0x605, 0xF01, "Error on waiting for Flash-Code"},
    {0x606, 0, "Unknown Flashcode %02X%02X"},
    {0x607, 0xF01, "Error on Requesting Flash-Size"},
    {0x608, 0xF02, "Error : you are trying to update a SW for %ld Bytes into a Mobile with only space for %ld Bytes !"},
    {0x60A, 0xF02, "Error : Update of %s SW not possible into a %s !"},
    {0x60B, 0xF02, "Error : SW-Date and Version are incompatible, Mobile : %s  Date : %s  <=>  File : %s  Date : %s !"},
    {0x60C, 0xF02, "Error : SW-Version is incompatible, Mobile: %s <=> File: %s !"},
    {0x60D, 0, "Error on waiting for Split-ID-Answer"},
    {0x60E, 0, "Wrong Split-ID, SW and LanguageGroup dont fit together"},
    {0x60F, 0, "Malloc error"},
    {0x610, 0, "Error on enabling flash block"},
    {0x611, 0, "Error on waiting for Compression-Answer"},
    {0x612, 0, "Error on waiting for LanguageGroup-Answer"},
    {0x613, 0, "Error on waiting for Splitinfo answer"},
    {0x614, 0, "Error on waiting for Stat-Data"},
    {0x615, 0, "No Update-SW found for Project : %s SVN %2X %s Relaydock"},
    {0x616, 0xF00, "Cant connect to Mobile with BootstrapLoader on Com %d"},
    {0x617, 0, "Library and Executable have different Interface-Versions !"},
    {0x618, 0, "Error opening Mutex. Update Nr: %d"},
    {0x619, 0, "Error : Compression/ Algorithm not supported"},
    {0x61A, 0xF01, "Error on Transmission"},
    {0x61B, 0xF01, "Error on waiting for Ack EOT"},
    {0x61C, 0, "Unable to write BGJ"},
    {0x61D, 0xF01, "Error on waiting for SW-Version"},
    {0x61E, 0, "No Bootcore detected"},
    {0x61F, 0, "Bootcore does't support selected baudrate"},
    {0x700, 0, "Error on ScanDirectoryForAvailableProjects"},
    {0x701, 0xF02, "DLL is out of date, get a new package !"},
    {0x702, 0, "Load failed : %s"},
    {0x800, 0, "Library and Executable have different Interface-Versions, Executable must be compiled new !"},
    {0x801, 0xF06, "Alread a file read ! Please release first !"},
    {0x802, 0xF06, "Error occured Initialization for READ : %d"},
    {0x803, 0xF06, "ChecksummError in HEADER of XBI-File"},
    {0x804, 0xF06, "HeapLib not initialized !"},
    {0x805, 0xF06, "Data len in heap zero, HeapLib initialized ?"},
    {0x806, 0xF06, "Strange Error :-)) Number %d !"},
    {0x807, 0xF06, "Currently only RAVED-Projects supported !"},
    {0x808, 0xF06, "No Update-SW found !"},
    {0x809, 0xF06, "Some Error : %d occured on reading XBI-Data"},
    {0x80A, 0xF06, "Your version of DORALEX/LIBRARY is outdated ! Software-Update not possible ! Get a new version !"},
    {0x80B, 0xF06, "Can't open file %s"},
    {0x80C, 0xF06, "XBI-Length 0 !"},
    {0x80D, 0xF03, "Not a Quorvex-Mobile-Phones-File"},
    {0x80E, 0xF06, "Error occured during FileSize-Detection : %d"},
    {0x80F, 0xF07, "Could not allocate %lu Bytes for XBI-File"},
    {0x900, 0xF06, "Can't add element for erase info!"},
    {0x901, 0xF06, "Could not copy element to list!"},
    {0x902, 0xF06, "Can't malloc heap for add. map info!"},
    {0x903, 0xF06, "More map info in xbi header than expected!"},
    {0x904, 0xF07, "Error mallocing heap for locater entry!"},
    {0x905, 0xF07, "SplitElementInsert returns error!"},
    {0x906, 0xF06, "Heap data corrupt at location %d"},
    {0x907, 0xF06, "Heapchk: no memory allocated!"},
    {0x908, 0xF06, "Heapchk: detected inconsistency!"},
    {0x909, 0xF06, "Error on data access"},
    {0x90A, 0xF06, "Read error in file %s!"},
    {0x90B, 0xF06, "Data file destroyed at %lu"},
    {0x90C, 0xF06, "Error on file access"},
    {0x90D, 0xF06, "ReadKennung returned: %d"},
    {0x90E, 0xF06, "Error: CountXbiHeaderBytes returnes %d"},
    {0x90F, 0xF06, "No read access to file %s"},
    {0x910, 0xF06, "Can't find file %s"},
    {0x911, 0xF06, "Error on data access"},
    {0xA00, 0xF00, "Opening Comport %d with Speed %d Baud not possible"},
    {0xA01, 0xF01, "Nothing received after BOT-Block1"},
    {0xA02, 0xF01, "Wrong Char %02X received after BOT-Block1"},
    {0xA03, 0xF01, "Nothing received after BOT-Block2"},
    {0xA04, 0xF01, "Wrong Char %02X received after BOT-Block2"},
    {0xA05, 0xF01, "Nothing received after BOT-Block3"},
    {0xA06, 0xF01, "Wrong Char %02X received after BOT-Block3"},
    {0xA07, 0xF01, "Nothing received after BOT-Block4"},
    {0xA08, 0xF01, "Wrong Char %02X received after BOT-Block4"},
    {0xA09, 0xF01, "Nothing received after Baud-BOT-Block"},
    {0xA0A, 0xF01, "Wrong Char %02X received after Baud-BOT-Block"},
    {0xA0B, 0xF01, "Changing Speed on Comport %d to %d Baud not possible, possible errors: wrong Baudrate / not installed driver/ wrong serialcard ?"},
    {0xA0C, 0xF01, "Nothing received after Baud-Ping"},
    {0xA0D, 0xF01, "Wrong char %02X received after Baud-Ping"},
    {0xA0E, 0xF01, "Nothing received after fallback to 57kBaud"},
    {0xA0F, 0xF01, "Wrong char %02X after fallback to 57kBaud"},
    {0xA10, 0xF01, "Nothing received after synch-byte"},
    {0xA11, 0xF01, "Wrong char %02X after synch-byte"},
    {0xA12, 0xF01, "Nothing received after BOT-Block 5k"},
    {0xA13, 0xF01, "Wrong char %02X after BOT-Block 5k"},
    {0xF00, 0, "Cant connect mobile !\nCheck if attached correctly or switch baudrate or comport"},
    {0xF01, 0, "Cant connect mobile !\nCheck if attached correctly"},
    {0xF02, 0, "Update not possible !\nWrong SW-version"},
    {0xF03, 0, "Update not possible !\nWrong mobile"},
    {0xF04, 0, "Update not possible !\nSW defect"},
    {0xF05, 0, "Mobile defect"},
    {0xF06, 0, "Error on reading new Mobile-SW"},
    {0xF07, 0, "Error on reading new Mobile-SW, not enough memory"},
    {0xFFF, 0, "Overflow on error list"},
};

TEST(ErrorTextTable, EveryRowIsPresentWithItsAlternateAndMessage) {
  EXPECT_EQ(ErrorTextTable().size(), std::size(kExpected));
  for (const ExpectedRow& want : kExpected) {
    SCOPED_TRACE(testing::Message() << std::hex << "code 0x" << want.code);
    const ErrorTextRow* row = FindErrorText(want.code);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->code, want.code);
    EXPECT_EQ(row->alternateCode, want.alternate);
    EXPECT_STREQ(row->message, want.message);
  }
}

TEST(ErrorTextTable, CodesAreUniqueAndAlternatesAreSummaries) {
  std::set<uint32_t> codes;
  const std::set<uint32_t> summaries = {0, 0xF00, 0xF01, 0xF02, 0xF03, 0xF04,
                                        0xF05, 0xF06, 0xF07, 0xFFF};
  for (const ErrorTextRow& row : ErrorTextTable()) {
    EXPECT_TRUE(codes.insert(row.code).second) << std::hex << row.code;
    EXPECT_TRUE(summaries.count(row.alternateCode)) << std::hex << row.code;
  }
}

TEST(ErrorTextTable, UnknownCodesHaveNoRow) {
  for (uint32_t code : {0u, 0x10Au, 0x609u, 0xF08u, 0x10000u}) {
    EXPECT_EQ(FindErrorText(code), nullptr) << std::hex << code;
  }
}

}  // namespace
}  // namespace dlx
