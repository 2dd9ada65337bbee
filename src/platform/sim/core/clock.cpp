// Time: Sleep waits for real only with clock = real (on the virtual clock it
// returns at once, and the time it asked for passes for the machine's
// spooler service all the same); GetLocalTime reads the machine's fixed time
// when it has one, else the host's local time.
#include <sys/time.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>

#include "platform/sim/core/machine_internal.h"

namespace {

// 0 = Sunday, for a date of the Gregorian calendar.
WORD DayOfWeek(int year, int month, int day) {
  static const int kOffsets[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
  if (month < 3) year -= 1;
  return static_cast<WORD>((year + year / 4 - year / 100 + year / 400 + kOffsets[month - 1] + day) % 7);
}

}  // namespace

std::vector<void (*)(DWORD)>& winsim::TimeHooks() {
  static std::vector<void (*)(DWORD)> hooks;
  return hooks;
}

void winsim::WhenTimePasses(void (*hook)(DWORD)) { TimeHooks().push_back(hook); }

void Sleep(DWORD milliseconds) {
  const winsim::Settings& settings = winsim::Machine::Get().settings();
  winsim::Journal({"Sleep", std::to_string(milliseconds)});
  winsim::LetOthersRun();
  if (!settings.virtual_clock) {
    struct timespec wait;
    wait.tv_sec = milliseconds / 1000;
    wait.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
    }
  }
  // On the virtual clock only Sleep lets time pass on the machine.
  for (void (*hook)(DWORD) : winsim::TimeHooks()) hook(milliseconds);
}

void GetLocalTime(LPSYSTEMTIME time) {
  if (!time) return;
  const std::string& fixed = winsim::Machine::Get().settings().time;
  if (!fixed.empty()) {  // "YYYY-MM-DD HH:MM:SS", checked when machine.ini was read
    int year = atoi(fixed.substr(0, 4).c_str());
    int month = atoi(fixed.substr(5, 2).c_str());
    int day = atoi(fixed.substr(8, 2).c_str());
    time->wYear = static_cast<WORD>(year);
    time->wMonth = static_cast<WORD>(month);
    time->wDay = static_cast<WORD>(day);
    time->wDayOfWeek = DayOfWeek(year, month, day);
    time->wHour = static_cast<WORD>(atoi(fixed.substr(11, 2).c_str()));
    time->wMinute = static_cast<WORD>(atoi(fixed.substr(14, 2).c_str()));
    time->wSecond = static_cast<WORD>(atoi(fixed.substr(17, 2).c_str()));
    time->wMilliseconds = 0;
    return;
  }
  struct timeval now;
  gettimeofday(&now, nullptr);
  struct tm local;
  time_t seconds = now.tv_sec;
  localtime_r(&seconds, &local);
  time->wYear = static_cast<WORD>(local.tm_year + 1900);
  time->wMonth = static_cast<WORD>(local.tm_mon + 1);
  time->wDayOfWeek = static_cast<WORD>(local.tm_wday);
  time->wDay = static_cast<WORD>(local.tm_mday);
  time->wHour = static_cast<WORD>(local.tm_hour);
  time->wMinute = static_cast<WORD>(local.tm_min);
  time->wSecond = static_cast<WORD>(local.tm_sec);
  time->wMilliseconds = static_cast<WORD>(now.tv_usec / 1000);
}
