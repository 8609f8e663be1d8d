// lxtool reg: reads and writes the registry store.
//
// Values below the library's own key ("SOFTWARE\Vesk Software\Orvanta") are
// read, written (type sz) and deleted through the library's registry-entry
// functions, exactly as the runtime sees them: strings without terminator.
// Everything else goes to the store directly.
//
// Values are shown as NAME<TAB>TYPE<TAB>DATA, the default value as "(default)";
// sub-keys follow as NAME\ lines. Readable data: strings without their trailing
// zero bytes, 32-bit values as 0x%08x (%u), multi-strings (UTF-16) decoded and
// joined with ';', anything else as hex bytes.
#include <strings.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"
#include "lxplatform.h"
#include "os/registry.h"
#include "os/utf.h"
#include "platform/registry_entry.h"

namespace lxtool {

const char kRegHelp[] =
    "usage: lxtool reg query KEY [VALUE]        show one value, or all values of KEY\n"
    "       lxtool reg set KEY VALUE TYPE DATA  store a value, creating KEY if needed\n"
    "       lxtool reg delete KEY VALUE         delete a value\n"
    "       lxtool reg delete-key [--tree] KEY  delete a key (with --tree: and all below it)\n"
    "       lxtool reg list KEY                 values of KEY, then its sub-keys\n"
    "\n"
    "KEY is a backslash path below HKEY_LOCAL_MACHINE, such as\n"
    "'SOFTWARE\\Vesk Software\\Orvanta'; names compare without regard to case.\n"
    "VALUE \"\" is the key's default value. Options come before KEY; \"--\" ends them,\n"
    "so that KEY, VALUE and DATA may start with '-'. TYPE and DATA:\n"
    "  sz         text (stored with its terminating zero byte; below the library's\n"
    "             key 'SOFTWARE\\Vesk Software\\Orvanta' without it, as the runtime\n"
    "             writes its entries)\n"
    "  expand_sz  text, as sz\n"
    "  dword      32-bit number, decimal or 0x hex (stored little-endian)\n"
    "  multi_sz   strings separated by ';', none of them empty (stored as UTF-16);\n"
    "             \"\" is the empty list\n"
    "  binary     hex digits, two per byte\n"
    "\n"
    "Exit status: 0 success, 1 failure (missing, refused, store failed), 2 usage.\n";

namespace {

const char* ResultText(int32_t r) {
  switch (r) {
    case lxos::kRegNotFound:
      return "not found";
    case lxos::kRegAccessDenied:
      return "registry store cannot be opened";
    case lxos::kRegInvalidParameter:
      return "invalid parameter";
    case lxos::kRegBadPath:
      return "malformed key path or value name";
    case lxos::kRegKeyHasChildren:
      return "key has sub-keys (use --tree)";
    case lxos::kRegIoFailed:
      return "registry store failed";
    default:
      return "failed";
  }
}

int Failed(int32_t r, const char* what, const char* name) {
  return Fail("%s '%s': %s (%d)", what, name, ResultText(r), static_cast<int>(r));
}

const char* TypeName(uint32_t type) {
  switch (type) {
    case lxos::kRegNone:
      return "none";
    case lxos::kRegSz:
      return "sz";
    case lxos::kRegExpandSz:
      return "expand_sz";
    case lxos::kRegBinary:
      return "binary";
    case lxos::kRegDword:
      return "dword";
    case lxos::kRegMultiSz:
      return "multi_sz";
    default:
      return nullptr;
  }
}

// "a;b" -> UTF-16LE "a\0b\0\0"; "" -> one empty string and the terminator.
std::string EncodeMultiSz(const std::string& list) {
  static const char16_t kZero = 0;
  std::string out;
  size_t begin = 0;
  for (;;) {
    size_t end = list.find(';', begin);
    std::u16string item =
        lxos::Utf8ToUtf16(list.substr(begin, end == std::string::npos ? std::string::npos : end - begin));
    lxos::AppendUtf16Bytes(&out, item.data(), item.size());
    lxos::AppendUtf16Bytes(&out, &kZero, 1);
    if (end == std::string::npos) break;
    begin = end + 1;
  }
  lxos::AppendUtf16Bytes(&out, &kZero, 1);
  return out;
}

// The strings of a UTF-16 multi-string joined with ';'. The first empty string
// ends the list, as on the host registry; a missing terminator or an odd last
// byte is tolerated.
std::string DecodeMultiSz(const std::string& bytes) {
  std::u16string units = lxos::Utf16FromBytes(bytes);
  std::string out;
  for (size_t begin = 0; begin < units.size();) {
    size_t end = units.find(u'\0', begin);
    if (end == begin) break;
    if (end == std::u16string::npos) end = units.size();
    if (begin > 0) out += ';';
    out += lxos::Utf16ToUtf8(units.data() + begin, end - begin);
    begin = end + 1;
  }
  return out;
}

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out.push_back(kDigits[c >> 4]);
    out.push_back(kDigits[c & 15]);
  }
  return out;
}

bool ParseHex(const char* text, std::string* out) {
  auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  size_t n = std::strlen(text);
  if (n % 2 != 0) return false;
  for (size_t i = 0; i < n; i += 2) {
    int hi = digit(text[i]), lo = digit(text[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out->push_back(static_cast<char>(hi * 16 + lo));
  }
  return true;
}

std::string Readable(uint32_t type, const std::string& data) {
  switch (type) {
    case lxos::kRegSz:
    case lxos::kRegExpandSz: {
      std::string text = data;
      while (!text.empty() && text.back() == '\0') text.pop_back();
      return text;
    }
    case lxos::kRegDword:
      if (data.size() == 4) {
        uint32_t v = 0;
        for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(data[static_cast<size_t>(i)]);
        char buf[40];
        std::snprintf(buf, sizeof buf, "0x%08x (%u)", v, v);
        return buf;
      }
      return Hex(data);
    case lxos::kRegMultiSz:
      return DecodeMultiSz(data);
    default:
      return Hex(data);
  }
}

void PrintValue(const char* name, uint32_t type, const std::string& data) {
  const char* typeName = TypeName(type);
  char number[16];
  if (typeName == nullptr) {
    std::snprintf(number, sizeof number, "type%u", type);
    typeName = number;
  }
  std::printf("%s\t%s\t%s\n", *name ? name : "(default)", typeName, Readable(type, data).c_str());
}

int32_t ReadValue(const char* key, const char* name, uint32_t* type, std::string* data) {
  for (;;) {
    uint32_t size = 0;
    int32_t r = lxos::RegQueryValue(key, name, type, nullptr, &size);
    if (r != lxos::kRegOk) return r;
    data->assign(size, '\0');
    r = lxos::RegQueryValue(key, name, type, size ? &(*data)[0] : nullptr, &size);
    if (r == lxos::kRegMoreData) continue;  // grew in between
    if (r == lxos::kRegOk) data->resize(size);
    return r;
  }
}

// Prints every value of `key`; with `subKeys` also its sub-keys.
int ListKey(const char* key, bool subKeys) {
  int32_t r = lxos::RegKeyExists(key);
  if (r != lxos::kRegOk) return Failed(r, "key", key);
  std::string name;
  uint32_t type = 0;
  for (uint32_t i = 0; (r = lxos::RegEnumValue(key, i, &name, &type)) == lxos::kRegOk; ++i) {
    std::string data;
    int32_t q = ReadValue(key, name.c_str(), &type, &data);
    if (q != lxos::kRegOk) return Failed(q, "value", name.c_str());
    PrintValue(name.c_str(), type, data);
  }
  if (r != lxos::kRegNoMoreItems) return Failed(r, "key", key);
  if (!subKeys) return kExitOk;
  for (uint32_t i = 0; (r = lxos::RegEnumKey(key, i, &name)) == lxos::kRegOk; ++i) {
    std::printf("%s\\\n", name.c_str());
  }
  if (r != lxos::kRegNoMoreItems) return Failed(r, "key", key);
  return kExitOk;
}

// The names below the library's key that `key` consists of, when `key` is that
// key or lies below it.
bool EntryNames(const char* key, std::vector<std::string>* names) {
  size_t baseLen = std::strlen(lxplatform::kEntryBaseKey);
  if (strncasecmp(key, lxplatform::kEntryBaseKey, baseLen) != 0) return false;
  if (key[baseLen] != '\0' && key[baseLen] != '\\') return false;
  names->clear();
  if (key[baseLen] == '\0') return true;
  std::string rest(key + baseLen + 1);
  size_t begin = 0;
  for (;;) {
    size_t end = rest.find('\\', begin);
    names->push_back(rest.substr(begin, end == std::string::npos ? std::string::npos : end - begin));
    if (end == std::string::npos) return true;
    begin = end + 1;
  }
}

// A null-terminated entry path over `names` and `value`; valid while both live.
std::vector<const char*> EntryPath(const std::vector<std::string>& names, const char* value) {
  std::vector<const char*> path;
  for (const std::string& n : names) path.push_back(n.c_str());
  path.push_back(value);
  path.push_back(nullptr);
  return path;
}

int EntryFailed(int rc, const char* what, const char* name) {
  const char* text =
      rc == LX_REGISTRY_INVALID_PARAMETER ? "invalid parameter (key path too long?)" : "not found";
  return Fail("%s '%s': %s (%d)", what, name, text, rc);
}

// Stores an entry below the library's key as LxSetRegistryEntry stores it (a
// string without terminator, the key created if missing, a key path below
// kEntryKeyBuffer characters), but without its deleting the old value first:
// the store replaces a value in one transaction, so a run that is killed
// leaves the old value or the new one, never none.
int SetEntry(const char* key, const char* value, const char* text) {
  if (std::strlen(key) >= lxplatform::kEntryKeyBuffer)
    return EntryFailed(LX_REGISTRY_INVALID_PARAMETER, "value", value);
  int32_t r = lxos::RegCreateKey(key);
  if (r != lxos::kRegOk) return Failed(r, "key", key);
  r = lxos::RegSetValue(key, value, lxos::kRegSz, text, static_cast<uint32_t>(std::strlen(text)));
  return r == lxos::kRegOk ? kExitOk : Failed(r, "value", value);
}

// LxGetRegistryEntry answers "too small" and "missing" alike; the size tells
// them apart. A value that needs more than the size - 1 bytes offered reports
// what it needs; a missing value leaves size - 1; a missing key, or a store that
// cannot be read, leaves the size as it was. That last answer also fits a value
// of exactly `size` bytes, so it earns one retry with more room, and is taken as
// "not found" when it comes back.
int QueryEntry(const std::vector<std::string>& names, const char* value) {
  std::vector<const char*> path = EntryPath(names, value);
  std::string buffer(256, '\0');
  bool retried = false;
  for (;;) {
    const int32_t offered = static_cast<int32_t>(buffer.size());
    int32_t size = offered;
    int rc = LxGetRegistryEntry(path.data(), &buffer[0], size);
    if (rc == 0) {
      PrintValue(value, lxos::kRegSz, buffer.substr(0, static_cast<size_t>(size)));
      return kExitOk;
    }
    const bool unchanged = size == offered;
    if (rc != LX_REGISTRY_FAILED || size < offered || (unchanged && retried)) {
      return EntryFailed(rc, "value", value);
    }
    retried = retried || unchanged;
    buffer.assign(static_cast<size_t>(size) + 1, '\0');
  }
}

}  // namespace

int RunRegQuery(const Invocation& in) {
  const std::vector<std::string>& args = in.Operands();
  const char* key = args[0].c_str();
  if (args.size() == 1) return ListKey(key, false);
  const char* value = args[1].c_str();
  std::vector<std::string> names;
  if (EntryNames(key, &names)) return QueryEntry(names, value);
  uint32_t type = 0;
  std::string data;
  int32_t r = ReadValue(key, value, &type, &data);
  if (r != lxos::kRegOk) return Failed(r, "value", value);
  PrintValue(value, type, data);
  return kExitOk;
}

int RunRegSet(const Invocation& in) {
  const char* key = in.Operands()[0].c_str();
  const char* value = in.Operands()[1].c_str();
  const char* typeName = in.Operands()[2].c_str();
  const char* text = in.Operands()[3].c_str();
  uint32_t type;
  std::string data;
  std::vector<std::string> names;
  if (std::strcmp(typeName, "sz") == 0 && EntryNames(key, &names)) return SetEntry(key, value, text);
  if (std::strcmp(typeName, "sz") == 0 || std::strcmp(typeName, "expand_sz") == 0) {
    type = typeName[0] == 's' ? lxos::kRegSz : lxos::kRegExpandSz;
    data.assign(text, std::strlen(text) + 1);
  } else if (std::strcmp(typeName, "dword") == 0) {
    type = lxos::kRegDword;
    uint64_t v = 0;
    if (!ParseNumber(text, 0xFFFFFFFFu, &v)) return UsageError("'%s' is no 32-bit number", text);
    for (int i = 0; i < 4; ++i) data.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
  } else if (std::strcmp(typeName, "multi_sz") == 0) {
    type = lxos::kRegMultiSz;
    // An empty item would end the list where it stands.
    const std::string list = text;
    if (!list.empty() &&
        (list.find(";;") != std::string::npos || list.front() == ';' || list.back() == ';')) {
      return UsageError("'%s' holds an empty item", text);
    }
    data = EncodeMultiSz(list);
  } else if (std::strcmp(typeName, "binary") == 0) {
    type = lxos::kRegBinary;
    if (!ParseHex(text, &data)) return UsageError("'%s' is no even run of hex digits", text);
  } else {
    return UsageError("unknown type '%s' (sz, expand_sz, dword, multi_sz, binary)", typeName);
  }
  int32_t r = lxos::RegCreateKey(key);
  if (r != lxos::kRegOk) return Failed(r, "key", key);
  r = lxos::RegSetValue(key, value, type, data.data(), static_cast<uint32_t>(data.size()));
  if (r != lxos::kRegOk) return Failed(r, "value", value);
  return kExitOk;
}

int RunRegDelete(const Invocation& in) {
  const char* key = in.Operands()[0].c_str();
  const char* value = in.Operands()[1].c_str();
  std::vector<std::string> names;
  if (EntryNames(key, &names)) {
    std::vector<const char*> path = EntryPath(names, value);
    int rc = LxDeleteRegistryEntry(path.data());
    return rc == 0 ? kExitOk : EntryFailed(rc, "value", value);
  }
  int32_t r = lxos::RegDeleteValue(key, value);
  return r == lxos::kRegOk ? kExitOk : Failed(r, "value", value);
}

int RunRegDeleteKey(const Invocation& in) {
  const char* key = in.Operands()[0].c_str();
  int32_t r = in.Has("--tree") ? lxos::RegDeleteTree(key) : lxos::RegDeleteKey(key);
  return r == lxos::kRegOk ? kExitOk : Failed(r, "key", key);
}

int RunRegList(const Invocation& in) { return ListKey(in.Operands()[0].c_str(), true); }

}  // namespace lxtool
