// Messages and diagnostics: the system log and the message object (process-wide
// objects that report through the host's log and the message presenter), the
// catalog of result-code texts, the server console and the output streams.
//
// None of these objects locks; the static text buffers are shared by all callers
// that pass no buffer of their own.
#pragma once

#include <cstdarg>

#include "lxdefs.h"

// ===========================================================================
// System log and message object
// ===========================================================================

// Kinds of system-log entries (the `kind` of LxVSysLog::Printf). Each selects the
// entry's event type, event id and message text:
//   1 success; 2 information; 3 warning; 4 error; 5 to 8 success with the version,
//   process id and program path; 9 to 11 error (10 = "Aborted."); others information.
//
// The system log's abstract base: Printf formats and hands the text to Output.
class LX_API LxVSysLog {
 public:
  LxVSysLog() = default;
  LxVSysLog(const LxVSysLog&) = delete;
  LxVSysLog& operator=(const LxVSysLog&) = delete;

  // Stores `on` as the process-wide switch (any value; 0 = off) and returns the
  // previous value. The switch starts at 1.
  virtual int SetEnabled(int on);
  // Opens the entry source under `sourceName`. Does nothing in the base.
  virtual void Open(const char* sourceName);
  // With the switch off returns 0 and does nothing. Else formats into 1,024
  // bytes (cut after 1,023 characters; the length then counts 1,024) and returns
  // Output(kind, length, text).
  virtual int Printf(int kind, const char* format, ...) __attribute__((format(printf, 3, 4)));
  virtual ~LxVSysLog();
  // Writes one entry. Returns non-zero on success, 0 when nothing was written.
  virtual int Output(int kind, int length, const char* text) = 0;

 protected:
  static int32_t enabled;
};

// The library's system log. Entries go to the host's log daemon (syslog on
// /dev/log) or to the JSON-lines file of the state directory; see README.
class LX_API LxSysLog : public LxVSysLog {
 public:
  LxSysLog();
  ~LxSysLog() override;

  // Registers the entry source (default "Orvanta Runtime System" when null) and
  // opens it, once: while a source is open, or with the log unavailable or
  // switched off, does nothing.
  void Open(const char* sourceName) override;
  // Opens the default source when none is open yet, then writes the entry with
  // its event type, id and four insertion strings. Returns 1 on success, 0 when
  // no source could be opened, or the system's error number when writing failed.
  int Output(int kind, int length, const char* text) override;

  uintptr_t GetEventSource() const { return eventSource; }
  uint32_t GetEventLogAvailable() const { return eventLogAvailable; }
  const char* GetProcessIdText() const { return processIdText; }
  const char* GetSourceName() const { return sourceName; }

 protected:
  static constexpr uintptr_t kNoSource = ~static_cast<uintptr_t>(0);
  uintptr_t eventSource = kNoSource;
  uint32_t eventLogAvailable = 0;
  char processIdText[20] = {};
  char sourceName[256] = {};
};

// Message flags: low 24 bits are message-box style bits; the high byte holds:
constexpr uint32_t LX_MSG_BREAK_ON_RETRY = 0x08000000;
constexpr uint32_t LX_MSG_BREAK_ON_CANCEL = 0x10000000;
constexpr uint32_t LX_MSG_SHOW_ALWAYS = 0x20000000;
// Message results.
constexpr uint32_t LX_MSG_OK = 0x01000000;      // OK, Yes, or an unexpected answer
constexpr uint32_t LX_MSG_CANCEL = 0x02000000;  // Cancel or Abort
constexpr uint32_t LX_MSG_RETRY = 0x03000000;
constexpr uint32_t LX_MSG_IGNORE = 0x04000000;
constexpr uint32_t LX_MSG_NO = 0x05000000;
constexpr uint32_t LX_MSG_SUPPRESSED = 0x40000000;  // switch off, nothing shown

// The message object's abstract base: Printf formats and hands the text to Output.
class LX_API LxVMsg {
 public:
  LxVMsg() = default;
  LxVMsg(const LxVMsg&) = delete;
  LxVMsg& operator=(const LxVMsg&) = delete;

  // Stores 1 if `on` is non-zero, else 0, and returns the previous value.
  virtual int SetEnabled(int on);
  // With the switch off and LX_MSG_SHOW_ALWAYS clear returns LX_MSG_SUPPRESSED.
  // Else formats into 4,096 bytes (cut after 4,095 characters) and returns
  // Output(caption, flags, text).
  virtual uint32_t Printf(const char* caption, uint32_t flags, const char* format, ...)
      __attribute__((format(printf, 4, 5)));
  virtual ~LxVMsg();
  // Shows one message and returns the LX_MSG_* result of the answer.
  virtual uint32_t Output(const char* caption, uint32_t flags, const char* text) = 0;

 protected:
  static int32_t enabled;
};

// The library's message object: caption and text go to standard error and the
// answer comes from ORVANTA_MESSAGE_ANSWER (see README), else the default button.
class LX_API LxMsg : public LxVMsg {
 public:
  LxMsg() = default;
  ~LxMsg() override;
  uint32_t Output(const char* caption, uint32_t flags, const char* text) override;
};

// The process-wide system log and message object; they live as long as the library.
LX_API LxSysLog* LxSystemLog();
LX_API LxMsg* LxMessage();

// ===========================================================================
// Error message catalog
// ===========================================================================

// ===========================================================================
// Server console and output streams
// ===========================================================================
