// The container read operation's internal state (library core).
#pragma once

namespace dlx {

// The text of the latest refusal of ReadXbiContainer (internal; nothing
// shows it to the user).
const char* GetReadErrorText();
// Set once a read has parsed a header, until ReleaseXbiContainer.
bool XbiFileRead();

}  // namespace dlx
