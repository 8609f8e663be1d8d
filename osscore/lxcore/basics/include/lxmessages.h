// Messages and diagnostics: the system log and the message object (process-wide
// objects that report through the host's log and the message presenter), the
// catalog of result-code texts, the server console and the output streams.
//
// None of these objects locks; the static text buffers are shared by all callers
// that pass no buffer of their own.
#pragma once

#include <cstdarg>
#include <cstdio>

#include "lxdefs.h"
#include "lxstring.h"

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

// The English text of any result code of the runtime, optionally prefixed with
// the name of the operation that failed. The texts come, in this order, from:
//   - the query-language group (-3099 to -3001 and 3001 to 3003): one shared text,
//     "To get the OQL-Errors, use GetOqlErrMsg(...) at one of the OQL-Interface-Classes";
//   - the module that registered the code's range with LxModuleErrorCallbackList
//     (lxframe.h), when its callback answers with a text (null falls through);
//   - the catalog's table; a code without a row reads "count" when it lies in 1 to
//     999 and "unknown error" otherwise.
// Code 0 reads "ok".
//
// With textOnly non-zero returns the bare text (a constant of the catalog, or the
// pointer the module's callback returned) and writes nothing. Otherwise writes
// into `buffer`, which must hold LX_ERROR_BUFFER_SIZE (lxframe.h) bytes, or, when buffer is
// null, into a static buffer shared by all such callers (valid until the next
// such call), and returns it:
//   with a prefix     "prefix : code -> text"   (code 0: "prefix : ok")
//   without a prefix  the text alone            (code 0: "0")
// The result never exceeds LX_ERROR_BUFFER_SIZE bytes with its terminator: a long
// prefix is cut first, then the end of the text.
LX_API const char* LxError(char* buffer, const char* prefix, int code, int textOnly);

// ===========================================================================
// Server console and output streams
// ===========================================================================

// The server console is a front end, LxServCons, that forwards its output to an
// exchangeable back end derived from _LxServCons. Other modules plug in their
// own back ends; the defaults given here write to the debugger output (standard
// error, or the file named by ORVANTA_DEBUG_OUTPUT; "off" silences it). The front
// end never owns its back end. Neither side locks: a back end shared by several
// threads serialises its own output.
//
// LxOutStreamStub is a typed output stream with one insertion per basic type;
// LxOutStreamFILE implements it over a C stream that it does not own.
//
// The service stop flag is set once by the part of a service process that asks
// for the stop, and polled by the others.

// The console's back end. A derived class supplies write(const LxString&); it
// may replace the other operations. A class that overrides one `write` hides
// the other unless it says `using _LxServCons::write;`.
class LX_API _LxServCons {
 public:
  _LxServCons() = default;
  virtual ~_LxServCons();

  virtual void write(const LxString& text) = 0;
  // Writes `text` to the debugger output; a null text writes nothing. `length`
  // is -1 when the text runs to its terminator, else its length; the default
  // writes up to the terminator in either case.
  virtual void write(const char* text, int length);
  // Calls write("\r\n", 2) on this object.
  virtual void terminateLine();
  // Does nothing by default.
  virtual void flush();

 protected:
  _LxServCons(const _LxServCons&) = default;
  _LxServCons& operator=(const _LxServCons&) = default;
};

// The console's front end. Output reaches the back end only while one is set and
// bit 0 of the flags (output enabled) is set; otherwise every operation below
// does nothing and returns the front end. Copying copies the back-end pointer.
class LX_API LxServCons {
 public:
  static constexpr unsigned short kEnabled = 1;

  // No back end, output enabled.
  LxServCons();
  // `implementation` (may be null) must outlive its use by this front end.
  explicit LxServCons(_LxServCons* implementation);
  LxServCons(const LxServCons&) = default;
  LxServCons& operator=(const LxServCons&) = default;
  virtual ~LxServCons();

  // Replaces the back end, whatever the flags, and returns the previous one.
  _LxServCons* setImplementation(_LxServCons* implementation);

  // write(text, -1); a null text writes nothing.
  LxServCons& operator<<(const char* text);
  LxServCons& operator<<(const LxString& text);
  // The value in decimal, written as printf("%ld") writes it.
  LxServCons& operator<<(int32_t value);
  // Calls the manipulator (endl) with this front end and returns its result.
  LxServCons& operator<<(LxServCons& (*manipulator)(LxServCons&));
  // Formats into 512 bytes (a longer result is cut after 511 characters) and
  // writes the text with write(text, -1).
  LxServCons& printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
  LxServCons& terminateLine();
  LxServCons& flush();

  _LxServCons* GetImplementation() const { return implementation; }
  unsigned short GetFlags() const { return flags; }

 protected:
  bool Active() const { return implementation != nullptr && (flags & kEnabled) != 0; }

  _LxServCons* implementation;
  unsigned short flags;
};

// terminateLine() and then flush() on the console; returns it.
LX_API LxServCons& endl(LxServCons& console);

// A typed output stream: one insertion per basic type, each returning the
// stream for chaining. The order of the virtual operations is fixed.
class LX_API LxOutStreamStub {
 public:
  LxOutStreamStub() = default;
  virtual ~LxOutStreamStub();

  virtual LxOutStreamStub& operator<<(const void* address) = 0;
  virtual LxOutStreamStub& operator<<(char value) = 0;
  virtual LxOutStreamStub& operator<<(double value) = 0;
  virtual LxOutStreamStub& operator<<(float value) = 0;
  virtual LxOutStreamStub& operator<<(unsigned long value) = 0;
  virtual LxOutStreamStub& operator<<(unsigned short value) = 0;
  virtual LxOutStreamStub& operator<<(unsigned int value) = 0;
  virtual LxOutStreamStub& operator<<(long value) = 0;
  virtual LxOutStreamStub& operator<<(short value) = 0;
  virtual LxOutStreamStub& operator<<(int value) = 0;
  virtual LxOutStreamStub& operator<<(const char* text) = 0;
  // Ends the line.
  virtual LxOutStreamStub& newLine() = 0;
  // Hands buffered output on to its destination.
  virtual LxOutStreamStub& flushStream() = 0;

  // Calls the manipulator (endl, flush) with this stream and returns its result.
  LxOutStreamStub& operator<<(LxOutStreamStub& (*manipulator)(LxOutStreamStub&)) {
    return manipulator(*this);
  }

 protected:
  LxOutStreamStub(const LxOutStreamStub&) = default;
  LxOutStreamStub& operator=(const LxOutStreamStub&) = default;
};

// newLine() on the stream; returns it.
LX_API LxOutStreamStub& endl(LxOutStreamStub& stream);
// flushStream() on the stream; returns it.
LX_API LxOutStreamStub& flush(LxOutStreamStub& stream);

// LxOutStreamStub over a C stream, written with fprintf in these formats:
//   address "0x%lx", char "%c", double "%lf", float "%f" (widened), unsigned long
//   "%lu", unsigned short and unsigned int "%u", long "%ld", short and int "%d",
//   text "%s" (a null text as "(null)"); newLine writes "\n", flushStream
//   calls fflush. Write errors are left in the stream's error indicator.
// The stream is not owned: it must stay open while this object writes to it, and
// the destructor does not close it. Copies write to the same stream.
class LX_API LxOutStreamFILE : public LxOutStreamStub {
 public:
  // REQUIRES: `stream` is an open C stream.
  explicit LxOutStreamFILE(FILE* stream);
  LxOutStreamFILE(const LxOutStreamFILE&) = default;
  LxOutStreamFILE& operator=(const LxOutStreamFILE&) = default;
  ~LxOutStreamFILE() override;

  using LxOutStreamStub::operator<<;
  LxOutStreamStub& operator<<(const void* address) override;
  LxOutStreamStub& operator<<(char value) override;
  LxOutStreamStub& operator<<(double value) override;
  LxOutStreamStub& operator<<(float value) override;
  LxOutStreamStub& operator<<(unsigned long value) override;
  LxOutStreamStub& operator<<(unsigned short value) override;
  LxOutStreamStub& operator<<(unsigned int value) override;
  LxOutStreamStub& operator<<(long value) override;
  LxOutStreamStub& operator<<(short value) override;
  LxOutStreamStub& operator<<(int value) override;
  LxOutStreamStub& operator<<(const char* text) override;
  LxOutStreamStub& newLine() override;
  LxOutStreamStub& flushStream() override;

  FILE* GetStream() const { return stream; }

 protected:
  FILE* stream;
};

// Sets the process-wide service stop flag. The flag cannot be cleared again.
LX_API void StopVESK_Service();
// 1 once StopVESK_Service has been called in this process, else 0.
LX_API int VESK_Service_hasStopped();
