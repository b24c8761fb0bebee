#include "recording_host.h"

#include <chrono>
#include <cstdio>
#include <condition_variable>
#include <mutex>

#include "doralex/doralex.h"

namespace enginetest {
namespace {

std::mutex mutex;
std::condition_variable ended;
HostRecord record;
std::vector<int> answers;

void Event(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex);
  record.events.push_back(text);
}

void OnConnectProgress(uint16_t, int total, int done) {
  Event("connect " + std::to_string(done) + "/" + std::to_string(total));
}
void OnLoaderStart(uint16_t, uint32_t length) { Event("loader " + std::to_string(length)); }
void OnLoaderProgress(uint16_t, uint32_t sent) { Event("loader progress " + std::to_string(sent)); }
void OnFlashCode(uint16_t channel, uint16_t code, const char* description) {
  char text[64];
  std::snprintf(text, sizeof text, "flashcode %u %04X '%s'", channel, code, description);
  Event(text);
}
void OnEraseProgress(uint16_t, uint16_t total, uint16_t done) {
  Event("erase " + std::to_string(done) + "/" + std::to_string(total));
}
void OnTransferStart(uint16_t, uint32_t total) { Event("transfer " + std::to_string(total)); }
void OnTransferProgress(uint16_t, uint32_t sent) {
  std::lock_guard<std::mutex> lock(mutex);
  record.transferProgress.push_back(sent);
}
void OnSuccess(uint16_t channel) {
  std::lock_guard<std::mutex> lock(mutex);
  record.events.push_back("success " + std::to_string(channel));
  ++record.successCalls;
  ended.notify_all();
}
void OnError(uint16_t channel) {
  std::lock_guard<std::mutex> lock(mutex);
  record.events.push_back("error " + std::to_string(channel));
  ++record.errorCalls;
  ended.notify_all();
}
int OnConsistencyProblem(uint16_t, const dlx::ProductInfo* phone, const dlx::ProductInfo* file, int type) {
  std::lock_guard<std::mutex> lock(mutex);
  record.events.push_back("problem " + std::to_string(type));
  record.problemTypes.push_back(type);
  record.problemPhones.push_back(*phone);
  record.problemFiles.push_back(*file);
  if (answers.empty()) return 0;
  const int answer = answers.front();
  answers.erase(answers.begin());
  return answer;
}

}  // namespace

void InstallRecordingHost(std::vector<int> consistencyAnswers) {
  {
    std::lock_guard<std::mutex> lock(mutex);
    answers = std::move(consistencyAnswers);
  }
  dlx::InstallUpdateCallbacks({&OnConnectProgress, &OnLoaderStart, &OnLoaderProgress, &OnFlashCode,
                               &OnEraseProgress, &OnTransferStart, &OnTransferProgress, &OnSuccess,
                               &OnError, &OnConsistencyProblem});
}

bool WaitForUpdateEnd(int timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex);
  return ended.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                        [] { return record.successCalls + record.errorCalls > 0; });
}

HostRecord Recorded() {
  std::lock_guard<std::mutex> lock(mutex);
  return record;
}

}  // namespace enginetest
