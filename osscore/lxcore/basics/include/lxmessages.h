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
#include "lxresult.h"
#include "lxstring.h"

// ===========================================================================
// System log and message object
// ===========================================================================

// The system log writes entries of the runtime's modules into the host's log; the
// message object shows a message to the person at the machine and returns the
// answer. Both are process-wide objects of the library, reached through
// LxSystemLog() and LxMessage(), built while the library loads and destroyed when
// it unloads. Each has a process-wide switch. Another module may derive its own
// object from LxVSysLog or LxVMsg and supply Output; the order of the virtual
// operations is fixed.
//
// Where entries go: the host's log daemon (a syslog datagram on /dev/log, read
// with journalctl or in the daemon's files), else the JSON-lines file
// eventlog/Application.log in the state directory; $ORVANTA_EVENTLOG chooses
// ("syslog:SOCKET", "file:PATH" or "off"); `lxtool eventlog` prints the file.
//
// Kinds of system-log entries (the `kind` of Printf and Output). The kind selects
// the entry's event type, event id and text; %1 is the version text
// "(Orvanta 9.5.23.262.0)", %2 the entry's text, %3 the process id, %4 the
// program's path, and a line break ends each line but the last:
//   kind  type         id          text
//   1     success      1           "SUCCESS: %2 "
//   2     information  0x40000002  "%2"
//   3     warning      0x80000003  "WARNING: %2 %1", "PID=%3", "EXE=%4"
//   4     error        0xC0000004  "ERROR: %2 %1", "PID=%3", "EXE=%4"
//   5, 6  success      kind        "%2 %1"
//   7     success      7           "%2 %1", "PID=%3", "EXE=%4"
//   8     success      8           "%2 %1", "PID=%3"
//   9, 11 error        0xC0000000 | kind   "%2 %1", "PID=%3", "EXE=%4"
//   10    error        0xC000000A  "%2 %1", "PID=%3", "EXE=%4", "Aborted."
//   other information  kind + 0x40000000   the entry's text alone
//
// Nothing here locks except the lazy opening of the system log's source: the
// switches are plain process-wide variables.

// The system log's abstract base: Printf formats and hands the text to Output.
class LX_API LxVSysLog {
 public:
  LxVSysLog() = default;
  LxVSysLog(const LxVSysLog&) = delete;
  LxVSysLog& operator=(const LxVSysLog&) = delete;

  // Stores `on` as the process-wide switch, as given (any value; 0 = off), and
  // returns the previous value. The switch starts at 1.
  virtual int SetEnabled(int on);
  // Opens the entry source under `sourceName`. Does nothing in the base.
  virtual void Open(const char* sourceName);
  // With the switch at 0 returns 0 and does nothing else. Otherwise formats into
  // 1,024 bytes: a text longer than 1,023 characters is cut after 1,023 and its
  // length then counts as 1,024. Returns Output(kind, length, text).
  virtual int Printf(int kind, const char* format, ...) __attribute__((format(printf, 3, 4)));
  virtual ~LxVSysLog();
  // Writes one entry of `kind`; `length` is the text's length as Printf counted it.
  // Returns non-zero on success (see the derived class), 0 when nothing was written.
  virtual int Output(int kind, int length, const char* text) = 0;

 protected:
  static int32_t enabled;
};

// The library's system log.
//
// The event source handle stands for an open entry source: it is the sink's
// handle of the source name (all bits set while none is open). The "event log
// available" flag is taken when the object is built (for the process-wide object:
// while the library loads): it is 1 unless $ORVANTA_EVENTLOG is "off" then, as
// every other setting has a target. While it is 0 no source is ever opened and
// every entry is dropped with result 0.
class LX_API LxSysLog : public LxVSysLog {
 public:
  LxSysLog();
  // Closes the source if one is open.
  ~LxSysLog() override;

  // Once only, while no source is open, the log is available and the switch is
  // non-zero: registers the source `sourceName` (null: "Orvanta Runtime System")
  // in the registry store, opens it and notes the process id. Otherwise does
  // nothing. A failed registration removes its half-written key and does not keep
  // the source from opening.
  void Open(const char* sourceName) override;
  // Opens the default source when none is open (as Open(nullptr)), then writes
  // the entry with its event type, id, rendered text and the four insertion
  // strings. Returns 1 when the entry was delivered (or discarded because
  // $ORVANTA_EVENTLOG was set to "off" after the object was built), 0 when no
  // source is open (log unavailable, or switched off before any source was
  // opened) or when the entry comes from inside this thread's own Open or Output
  // (an out-of-memory report while writing; it is dropped), else the system's
  // error number (ENOMEM, or that of the file) when the entry could not be
  // written and is lost.
  int Output(int kind, int length, const char* text) override;

  uintptr_t GetEventSource() const { return eventSource; }
  uint32_t GetEventLogAvailable() const { return eventLogAvailable; }
  // The process id in decimal; empty until a source is opened. A forked child
  // puts its own id here with its first entry.
  const char* GetProcessIdText() const { return processIdText; }
  // The open source's name, or "" while none is open.
  const char* GetSourceName() const;

 protected:
  static constexpr uintptr_t kNoSource = ~static_cast<uintptr_t>(0);

  void OpenSource(const char* sourceName);
  int WriteEntry(int kind, const char* text);

  uintptr_t eventSource = kNoSource;
  uint32_t eventLogAvailable = 0;
  char processIdText[20] = {};
};

// Message flags: the low 24 bits are message-box style bits (buttons 0x0 to 0x6:
// OK, OK/Cancel, Abort/Retry/Ignore, Yes/No/Cancel, Yes/No, Retry/Cancel; icon
// 0x10 to 0x40; default button 0x000, 0x100, 0x200); the high byte holds:
constexpr uint32_t LX_MSG_BREAK_ON_RETRY = 0x08000000;   // SIGTRAP after Retry
constexpr uint32_t LX_MSG_BREAK_ON_CANCEL = 0x10000000;  // SIGTRAP after Cancel or Abort
constexpr uint32_t LX_MSG_SHOW_ALWAYS = 0x20000000;      // show even while switched off
// Message results.
constexpr uint32_t LX_MSG_OK = 0x01000000;      // OK, Yes, or an unexpected answer
constexpr uint32_t LX_MSG_CANCEL = 0x02000000;  // Cancel or Abort
constexpr uint32_t LX_MSG_RETRY = 0x03000000;
constexpr uint32_t LX_MSG_IGNORE = 0x04000000;
constexpr uint32_t LX_MSG_NO = 0x05000000;
constexpr uint32_t LX_MSG_SUPPRESSED = 0x40000000;  // switched off: nothing shown

// The message object's abstract base: Printf formats and hands the text to Output.
class LX_API LxVMsg {
 public:
  LxVMsg() = default;
  LxVMsg(const LxVMsg&) = delete;
  LxVMsg& operator=(const LxVMsg&) = delete;

  // Stores 1 if `on` is non-zero, else 0, as the process-wide switch and returns
  // the previous value. The switch starts at 1.
  virtual int SetEnabled(int on);
  // With the switch at 0 and LX_MSG_SHOW_ALWAYS clear returns LX_MSG_SUPPRESSED
  // and shows nothing. Otherwise formats into 4,096 bytes (a longer text is cut
  // after 4,095 characters) and returns Output(caption, flags, text).
  virtual uint32_t Printf(const char* caption, uint32_t flags, const char* format, ...)
      __attribute__((format(printf, 4, 5)));
  virtual ~LxVMsg();
  // Shows one message and returns the LX_MSG_* result of the answer.
  virtual uint32_t Output(const char* caption, uint32_t flags, const char* text) = 0;

 protected:
  static int32_t enabled;
};

// The library's message object. There is no desktop: the caption (null:
// "Orvanta Runtime System"), the text and the buttons go to standard error, and
// the answer is the one $ORVANTA_MESSAGE_ANSWER names (ok, cancel, abort, retry,
// ignore, yes, no) when the box offers it, else the box's default button.
class LX_API LxMsg : public LxVMsg {
 public:
  LxMsg() = default;
  ~LxMsg() override;
  // Shows the box with the style (flags & 0x00DADFFF) | 0x00252000 (task-modal,
  // foreground, topmost, service notification; the library's high byte cleared)
  // and returns the result of the answer: LX_MSG_OK for OK, Yes or an unexpected
  // answer, LX_MSG_CANCEL for Cancel or Abort, LX_MSG_RETRY, LX_MSG_IGNORE,
  // LX_MSG_NO. Raises SIGTRAP first after Retry with LX_MSG_BREAK_ON_RETRY, and
  // after Cancel or Abort with LX_MSG_BREAK_ON_CANCEL. Does not look at the switch.
  uint32_t Output(const char* caption, uint32_t flags, const char* text) override;
};

// The process-wide system log and message object. Never null; they live as long
// as the library, and the caller must not delete them.
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
// the other unless it says `using _LxServCons::write;`. The reserved-looking name
// (underscore and capital letter) stays: the runtime's other modules derive from it.
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
