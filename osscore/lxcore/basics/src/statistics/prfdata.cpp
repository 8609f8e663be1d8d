#include "statistics/prfdata.h"

#include <pthread.h>
#include <unistd.h>

#include <cstring>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "lxmessages.h"
#include "lxstatistics.h"
#include "os/filelock.h"
#include "os/paths.h"
#include "os/registry.h"
#include "os/utf.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "the statistics slots are updated in place as little-endian 32-bit words");

namespace lxstats {

namespace {

// The counter definition table: one object and its fifteen counters, then the
// end record. Names and help texts are the system's own, trailing blanks
// included. Counts, links and block sizes are filled in by Link and Activate.
PrfDataEntry g_table[] = {
    {kPrfObject, 100, u"Orvanta", u"The Orvanta runtime system performance counters", kDetailNovice, 104, -1,
     0, 0, 0, 0, 0, 0, 0},
    {kPrfCounter, 101, u"Transactions   ", u"The number of currently registered transactions.", kDetailNovice,
     -1, 0, 0, 0, 0, 0, 0, 0, kRawCount},
    {kPrfCounter, 102, u"Commits/sec", u"The number of transaction commit requests since last sample.   ",
     kDetailNovice, -1, 0, 0, 0, 0, 0, 0, -1, kRateCount},
    {kPrfCounter, 103, u"Aborts/sec ", u"The number of transaction abort requests since last sample.",
     kDetailNovice, -1, 0, 0, 0, 0, 0, 0, 0, kRateCount},
    {kPrfCounter, 104, u"C/S Requests/sec   ", u"The number of client/server requests since last sample.",
     kDetailNovice, -1, 0, 0, 0, 0, 0, 0, -1, kRateCount},
    {kPrfCounter, 105, u"C/S Failed Requests/sec",
     u"The number of client/server requests resulting in an error since last sample.  ", kDetailNovice, -1, 0,
     0, 0, 0, 0, 0, 0, kRateCount},
    {kPrfCounter, 106, u"Server Notifications/sec   ",
     u"The number of Notify() calls issued by the server since last sample.   ", kDetailNovice, -1, 0, 0, 0,
     0, 0, 0, 0, kRateCount},
    {kPrfCounter, 107, u"Queries/sec", u"The number of query requests since last sample.", kDetailNovice, -1,
     0, 0, 0, 0, 0, 0, 0, kRateCount},
    {kPrfCounter, 108, u"Clients", u"The number of currently connected clients. ", kDetailNovice, -1, 0, 0, 0,
     0, 0, 0, 0, kRawCount},
    {kPrfCounter, 109, u"Object Descriptions",
     u"The number of currently used object descriptions. This number indicates how many different persistent "
     u"objects are used by all clients together.",
     kDetailNovice, -1, 0, 0, 0, 0, 0, 0, -2, kRawCount},
    {kPrfCounter, 110, u"Extents", u"The number of currently used extent cursors (C++: LxAllSet objects).   ",
     kDetailNovice, -1, 0, 0, 0, 0, 0, 0, 0, kRawCount},
    {kPrfCounter, 111, u"Locks  ", u"The number of currently used locks.", kDetailNovice, -1, 0, 0, 0, 0, 0,
     0, -1, kRawCount},
    {kPrfCounter, 112, u"Watches", u"The number of currently used watches.  ", kDetailNovice, -1, 0, 0, 0, 0,
     0, 0, 0, kRawCount},
    {kPrfCounter, 113, u"RefreshedObjects/sec   ",
     u"The number of refreshed objects since last sample. This number indicates how many objects have been "
     u"re-delivered to all clients.   ",
     kDetailNovice, -1, 0, 0, 0, 0, 0, 0, -1, kRateCount},
    {kPrfCounter, 114, u"DeliveredObjects/sec   ",
     u"The number of delivered objects since last sample. This number indicates how many objects have been "
     u"delivered to all clients.  ",
     kDetailNovice, -1, 0, 0, 0, 0, 0, 0, -2, kRateCount},
    {kPrfCounter, 115, u"Internal Transactions/sec", u"The number of started internal transactions.   ",
     kDetailNovice, -1, 0, 0, 0, 0, 0, 0, -1, kRateCount},
    {kPrfEnd, 0xFFFFFFFFu, nullptr, nullptr, kDetailNovice, 0, 0, 0, 0, 0, 0, 0, 0, 0},
};

PrfData g_provider(u"Orvanta", g_table);

// Serialises the provider's operations within the process: activation, slot
// look-ups, collections (which share the collect marks), installation and
// unloading. The statistics updates never take it.
std::mutex g_providerMutex;

const char kPerflibKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib";

// The longest wait of an activation for a lock: on the registry store, which a
// member of the monitoring group may hold, and on the setup lock.
constexpr int kWaitLimitMs = 2000;

void Put32(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
  p[2] = static_cast<unsigned char>(v >> 16);
  p[3] = static_cast<unsigned char>(v >> 24);
}

uint32_t Get32(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Reads a 32-bit value; false (and *value untouched) when it is missing or not
// four bytes long.
bool ReadDword(const std::string& key, const char* name, uint32_t* value) {
  unsigned char buf[4];
  uint32_t size = sizeof buf;
  if (lxos::RegQueryValue(key.c_str(), name, nullptr, buf, &size) != lxos::kRegOk || size != 4) return false;
  *value = Get32(buf);
  return true;
}

int32_t WriteDword(const std::string& key, const char* name, uint32_t value) {
  unsigned char buf[4];
  Put32(buf, value);
  return lxos::RegSetValue(key.c_str(), name, lxos::kRegDword, buf, sizeof buf);
}

int32_t WriteWideString(const std::string& key, const char* name, const std::u16string& text) {
  std::string bytes;
  lxos::AppendUtf16Bytes(&bytes, text.c_str(), text.size() + 1);
  return lxos::RegSetValue(key.c_str(), name, lxos::kRegSz, bytes.data(),
                           static_cast<uint32_t>(bytes.size()));
}

// The whole value, or false when it is missing.
bool ReadBytes(const std::string& key, const char* name, std::string* out) {
  out->clear();
  for (int attempt = 0; attempt < 4; ++attempt) {
    uint32_t size = 0;
    if (lxos::RegQueryValue(key.c_str(), name, nullptr, nullptr, &size) != lxos::kRegOk) return false;
    out->resize(size);
    int32_t rc = lxos::RegQueryValue(key.c_str(), name, nullptr, size ? &(*out)[0] : nullptr, &size);
    if (rc == lxos::kRegOk) {
      out->resize(size);
      return true;
    }
    if (rc != lxos::kRegMoreData) return false;
  }
  return false;
}

// Byte length of the strings of a UTF-16LE multi-string, without the empty
// string that ends the list. A last string without its terminator gets one.
size_t MultiStringContent(std::string* value) {
  value->resize(value->size() & ~static_cast<size_t>(1));
  size_t pos = 0;
  while (pos < value->size()) {
    size_t end = pos;
    while (end < value->size() && ((*value)[end] != 0 || (*value)[end + 1] != 0)) end += 2;
    if (end == pos) return pos;  // the empty string: end of the list
    if (end == value->size()) {
      value->append(2, '\0');
      return value->size();
    }
    pos = end + 2;
  }
  return pos;
}

std::string IndexBytes(uint32_t index) {
  std::string digits = std::to_string(index);
  std::string bytes;
  for (char c : digits) {
    bytes.push_back(c);
    bytes.push_back('\0');
  }
  return bytes;
}

// Position of the index text `index` (a whole string of the list) in `value` at
// or after `from`, or npos.
size_t FindIndex(const std::string& value, uint32_t index, size_t from) {
  std::string digits = IndexBytes(index);
  std::string terminated = digits + std::string(2, '\0');
  if (from == 0 && value.compare(0, terminated.size(), terminated) == 0) return 0;
  std::string framed = std::string(2, '\0') + terminated;
  size_t hit = value.find(framed, from);
  return hit == std::string::npos ? hit : hit + 2;
}

// Position just after the terminator of the string that starts at `pos`.
size_t SkipString(const std::string& value, size_t pos) {
  while (pos + 1 < value.size() && (value[pos] != 0 || value[pos + 1] != 0)) pos += 2;
  return pos + 1 < value.size() ? pos + 2 : value.size();
}

// Whether `image`, the block as read, has the header and counter definitions
// that the table gives it. A block that another process damaged fails.
bool HeaderSound(const PrfDataEntry* table, uint32_t entryCount, const std::vector<unsigned char>& image) {
  size_t part = 0;
  for (uint32_t i = 0; i < entryCount; ++i) {
    const PrfDataEntry& obj = table[i];
    if (obj.kind != kPrfObject) continue;
    const uint32_t n = obj.counterCount;
    const uint32_t definitions = kObjectHeaderSize + kCounterDefinitionSize * n;
    if (part + obj.blockSize > image.size() || obj.maxInstances > 0) return false;
    const unsigned char* p = image.data() + part;
    if (Get32(p + 4) != definitions || Get32(p + 8) != kObjectHeaderSize || Get32(p + 32) != n ||
        Get32(p + definitions) != kCounterBlockHeaderSize + kCounterValueSize * n) {
      return false;
    }
    for (uint32_t k = 0; k < n; ++k) {
      const unsigned char* d = p + kObjectHeaderSize + kCounterDefinitionSize * k;
      if (Get32(d) != kCounterDefinitionSize || Get32(d + 32) != kCounterValueSize ||
          Get32(d + 36) != kCounterBlockHeaderSize + kCounterValueSize * k) {
        return false;
      }
    }
    part += obj.blockSize;
  }
  return true;
}

// Fork: the forking thread holds both mutexes across fork, so that the child
// finds them free and the provider in a consistent state.
void ForkPrepare() {
  EnableMutex().lock();
  g_providerMutex.lock();
}
void ForkParent() {
  g_providerMutex.unlock();
  EnableMutex().unlock();
}
void ForkChild() {
  g_provider.AfterForkInChild();
  g_providerMutex.unlock();
  EnableMutex().unlock();
}

// Links the table at load and unmaps the block at unload.
struct ProviderLifetime {
  ProviderLifetime() {
    g_provider.Link();
    pthread_atfork(ForkPrepare, ForkParent, ForkChild);
  }
  ~ProviderLifetime() { g_provider.Unload(); }
} g_lifetime;

// Creates the counter-name key `perflib` when missing and reads its last counter
// and help indexes (left as they are when missing); false when the key cannot
// be had.
bool ReadLastIndexes(const std::string& perflib, uint32_t* lastCounter, uint32_t* lastHelp) {
  if (lxos::RegCreateKey(perflib.c_str()) != lxos::kRegOk) return false;
  ReadDword(perflib, "Last Counter", lastCounter);
  ReadDword(perflib, "Last Help", lastHelp);
  return true;
}

// Calls `visit(languageKey, help)` for every language sub-key of `perflib`, first
// for the counter names, then for the help texts. Sub-key names take at most
// nine characters; the first longer one ends a walk, as a ten-character name
// buffer would.
template <typename Visit>
void ForEachLanguage(const std::string& perflib, Visit visit) {
  for (const bool help : {false, true}) {
    std::string language;
    for (uint32_t n = 0;
         lxos::RegEnumKey(perflib.c_str(), n, &language) == lxos::kRegOk && language.size() <= 9; ++n)
      visit(perflib + "\\" + language, help);
  }
}

}  // namespace

PrfData& PrfDataProvider() { return g_provider; }

void PrfData::AfterForkInChild() {
  StopPublishing();
  lxos::ShmDetach(&block);
  lxos::FileLockRelease(writerLock);
  writerLock = -1;
  slotsHandedOut = false;
}

int32_t PrfData::Refuse(int32_t rc, const std::string& subject, const std::string& why) {
  std::string text = "Statistics are not published or collected: " +
                     (why.empty() ? subject + ": " + std::strerror(rc) : why) + ".";
  static std::set<std::string>* logged = new std::set<std::string>;
  if (logged->insert(text).second) LxSystemLog()->Printf(3, "%s", text.c_str());
  return rc;
}

void PrfData::Unload() {
  std::lock_guard<std::mutex> hold(g_providerMutex);
  StopPublishing();
  // Threads of the host may still count while the library's destructors run, and
  // one of them may hold a slot address it loaded before the flag went down: a
  // view that handed out addresses stays mapped (and its descriptor open, so
  // that nobody starts the block afresh under it) until the process ends.
  if (slotsHandedOut) {
    block = lxos::ShmBlock();
  } else {
    lxos::ShmDetach(&block);
  }
}

std::string PrfData::ServiceName() const { return lxos::Utf16ToUtf8(name, lxos::WideLength(name)); }

std::string PrfData::PerformanceKey() const {
  return "SYSTEM\\CurrentControlSet\\Services\\" + ServiceName() + "\\Performance";
}

std::string BlockName() {
  const char* env = lxos::GetEnv("ORVANTA_SHM_NAME");
  std::string n = env && *env ? std::string(env) : PrfDataProvider().ServiceName();
  return n[0] == '/' ? n : "/" + n;
}

std::string WriterLockFile() { return lxos::LockDirectory() + "/" + PrfDataProvider().ServiceName() + "_mt"; }

void PrfData::Link() {
  entryCount = 0;
  objectCount = 0;
  int32_t lastObject = -1;
  for (uint32_t i = 0; table[i].kind != kPrfEnd; ++i) {
    ++entryCount;
    if (table[i].kind == kPrfObject) {
      ++objectCount;
      table[i].counterCount = 0;
      table[i].nextObject = -1;
      if (lastObject >= 0) table[lastObject].nextObject = static_cast<int32_t>(i);
      lastObject = static_cast<int32_t>(i);
    } else if (lastObject >= 0) {
      ++table[lastObject].counterCount;
    }
  }
}

uint32_t PrfData::ComputeBlockSizes() {
  uint32_t total = 0;
  for (uint32_t i = 0; i < entryCount; ++i) {
    PrfDataEntry& e = table[i];
    if (e.kind != kPrfObject) continue;
    uint32_t n = e.counterCount;
    e.blockSize = kObjectHeaderSize + kCounterDefinitionSize * n;
    uint32_t counters = kCounterBlockHeaderSize + kCounterValueSize * n;
    if (e.maxInstances > 0) {
      // Instance definition (24 bytes), its name, and its own counter block.
      e.blockSize += static_cast<uint32_t>(e.maxInstances) * (24 + 2 * e.maxInstanceNameLength + counters);
    } else {
      e.blockSize += counters;
    }
    total += e.blockSize;
  }
  return total;
}

void PrfData::Initialise(unsigned char* view) const {
  unsigned char* part = view;
  for (uint32_t i = 0; i < entryCount; ++i) {
    const PrfDataEntry& obj = table[i];
    if (obj.kind != kPrfObject) continue;
    const uint32_t n = obj.counterCount;
    const uint32_t definitions = kObjectHeaderSize + kCounterDefinitionSize * n;
    int32_t defaultPosition = -1;
    for (uint32_t k = 0; k < n; ++k) {
      if (static_cast<int32_t>(table[i + 1 + k].id) == obj.defaultCounter)
        defaultPosition = static_cast<int32_t>(k);
    }
    Put32(part + 4, definitions);
    Put32(part + 8, kObjectHeaderSize);
    Put32(part + 12, firstCounter + 2 * i);
    Put32(part + 20, firstHelp + 2 * i);
    Put32(part + 28, obj.detailLevel);
    Put32(part + 32, n);
    Put32(part + 36, static_cast<uint32_t>(defaultPosition));
    Put32(part + 40, static_cast<uint32_t>(obj.maxInstances));
    for (uint32_t k = 0; k < n; ++k) {
      const PrfDataEntry& c = table[i + 1 + k];
      unsigned char* d = part + kObjectHeaderSize + kCounterDefinitionSize * k;
      Put32(d, kCounterDefinitionSize);
      Put32(d + 4, firstCounter + 2 * (i + 1 + k));
      Put32(d + 12, firstHelp + 2 * (i + 1 + k));
      Put32(d + 20, static_cast<uint32_t>(c.defaultScale));
      Put32(d + 24, c.detailLevel);
      Put32(d + 28, c.counterType);
      Put32(d + 32, kCounterValueSize);
      Put32(d + 36, kCounterBlockHeaderSize + kCounterValueSize * k);
    }
    if (obj.maxInstances <= 0) Put32(part + definitions, kCounterBlockHeaderSize + kCounterValueSize * n);
    part += obj.blockSize;
  }
}

void PrfData::InitialiseBlock(void* view, size_t, void* context) {
  static_cast<PrfData*>(context)->Initialise(static_cast<unsigned char*>(view));
}

int32_t PrfData::Activate(bool singleWriter) {
  std::lock_guard<std::mutex> hold(g_providerMutex);
  if (entryCount == 0) Link();  // activated by a static initialiser that ran first
  const std::string key = PerformanceKey();
  uint32_t indexes[4] = {firstCounter, firstHelp, lastCounter, lastHelp};
  {
    lxos::RegWaitLimit limit(kWaitLimitMs);
    const bool installed = lxos::RegKeyExists(key.c_str()) == lxos::kRegOk;
    uint32_t disabled = 0;
    if (installed) {
      ReadDword(key, "Disable Performance Counters", &disabled);
      ReadDword(key, "First Counter", &indexes[0]);
      ReadDword(key, "First Help", &indexes[1]);
      ReadDword(key, "Last Counter", &indexes[2]);
      ReadDword(key, "Last Help", &indexes[3]);
    }
    if (limit.Expired()) {
      return Refuse(
          ETIMEDOUT, "",
          "another process held the registry store for more than " + std::to_string(kWaitLimitMs) + " ms");
    }
    if (!installed || disabled != 0) return kPrfRefused;
  }
  // Holding the lock already means that this process is the writer: as with a
  // named mutex that exists, a second claim is refused.
  if (singleWriter && writerLock >= 0) return kPrfRefused;
  // A monitor of another user than the store's owner only reads.
  uid_t storeOwner = geteuid();
  lxos::RegistryOwner(&storeOwner);
  const bool reader = !singleWriter && storeOwner != geteuid();
  const std::string lockFile = WriterLockFile();
  std::string why;
  int lock = -1;
  if (!reader) {
    int32_t rc =
        singleWriter ? lxos::FileLockTry(lockFile, &lock, &why) : lxos::FileLockOpen(lockFile, &lock, &why);
    if (rc == lxos::kLockBusy) return kPrfRefused;
    if (rc != 0) return Refuse(rc, lockFile, why);
    if (singleWriter) writerLock = lock;
  }
  firstCounter = indexes[0];
  firstHelp = indexes[1];
  lastCounter = indexes[2];
  lastHelp = indexes[3];
  const uint32_t total = ComputeBlockSizes();
  int32_t rc = 0;
  const std::string name = BlockName();
  if (block.fd >= 0) {
    // attached before in this process
  } else if (reader) {
    lxos::TrustRule rule;
    rule.size = total;
    rule.alsoOwner = storeOwner;
    rule.groupMustMatch = true;
    rc = lxos::ShmOpenReadOnly(name.c_str(), rule, &block, &why);
    if (rc == ENOENT) return rc;  // nothing to read until the owner makes it
  } else {
    lxos::ShmAccess access;
    access.setupLock = lock;
    access.setupTimeoutMs = kWaitLimitMs;
    rc = lxos::SharedMode(false, &access.mode, &access.group);
    if (rc != 0) {
      why = "ORVANTA_SHM_GROUP names no group";
    } else {
      bool created = false;
      rc = lxos::ShmAttach(name.c_str(), total, access, &PrfData::InitialiseBlock, this, &block, &created,
                           &why);
    }
  }
  if (!singleWriter) lxos::FileLockRelease(lock);  // a monitor keeps no lock
  return rc == 0 ? 0 : Refuse(rc, "shared block " + name, why);
}

unsigned char* PrfData::CounterSlot(uint32_t id, int32_t instance) const {
  std::lock_guard<std::mutex> hold(g_providerMutex);
  if (block.view == nullptr) return nullptr;
  uint32_t partStart = 0;
  for (uint32_t i = 0; i < entryCount; ++i) {
    const PrfDataEntry& obj = table[i];
    if (obj.kind != kPrfObject) continue;
    for (uint32_t k = 0; k < obj.counterCount; ++k) {
      if (table[i + 1 + k].id != id) continue;
      if (instance != 0 || obj.maxInstances > 0) return nullptr;
      slotsHandedOut = true;
      return static_cast<unsigned char*>(block.view) + partStart + kObjectHeaderSize +
             kCounterDefinitionSize * obj.counterCount + kCounterBlockHeaderSize + kCounterValueSize * k;
    }
    partStart += obj.blockSize;
  }
  return nullptr;
}

uint32_t PrfData::Collect(const char16_t* valueName, void** data, uint32_t* totalBytes,
                          uint32_t* objectCount) {
  std::lock_guard<std::mutex> hold(g_providerMutex);
  if (data == nullptr || totalBytes == nullptr || objectCount == nullptr) {
    if (totalBytes != nullptr) *totalBytes = 0;
    if (objectCount != nullptr) *objectCount = 0;
    return 0;
  }
  if (block.fd < 0 || *data == nullptr) {
    *totalBytes = 0;
    *objectCount = 0;
    return 0;
  }
  // No filter for "Global" (or no value name); otherwise the value name framed
  // by blanks, in which each object looks for " <its name index> ".
  bool all = valueName == nullptr;
  std::u16string filter;
  if (!all) {
    static const char16_t kGlobal[] = u"global";
    size_t i = 0;
    while (kGlobal[i] != 0 && valueName[i] != 0 &&
           (valueName[i] >= u'A' && valueName[i] <= u'Z' ? valueName[i] + 32 : valueName[i]) == kGlobal[i]) {
      ++i;
    }
    all = kGlobal[i] == 0 && valueName[i] == 0;
    if (!all) filter = u" " + std::u16string(valueName) + u" ";
  }
  *objectCount = 0;
  for (uint32_t i = 0; i < entryCount; ++i) table[i].collectMark = 0;
  uint64_t needed = 0;
  for (uint32_t i = 0; i < entryCount; ++i) {
    PrfDataEntry& obj = table[i];
    if (obj.kind != kPrfObject) continue;
    if (!all) {
      std::u16string needle = u" ";
      for (char c : std::to_string(firstCounter + 2 * i)) needle.push_back(static_cast<char16_t>(c));
      needle.push_back(u' ');
      if (filter.find(needle) == std::u16string::npos) continue;
    }
    obj.collectMark = 1;
    needed += kObjectHeaderSize + (kCounterDefinitionSize + kCounterValueSize) * obj.counterCount +
              kCounterBlockHeaderSize;
  }
  if (needed > *totalBytes) {
    *totalBytes = 0;
    return kMoreData;
  }
  *totalBytes = 0;
  // The writer stores into the block at any moment: the kernel's copy moves the
  // aligned words whole, so no value comes out torn (the threads test checks
  // it). A block cut short or damaged under us gives nothing at all.
  std::vector<unsigned char> image(block.size);
  if (lxos::ShmRead(block, 0, image.data(), image.size()) != 0 || !HeaderSound(table, entryCount, image))
    return 0;
  unsigned char* out = static_cast<unsigned char*>(*data);
  const unsigned char* part = image.data();
  for (uint32_t i = 0; i < entryCount; ++i) {
    const PrfDataEntry& obj = table[i];
    if (obj.kind != kPrfObject) continue;
    if (obj.collectMark != 0) {
      const uint32_t size = kObjectHeaderSize +
                            (kCounterDefinitionSize + kCounterValueSize) * obj.counterCount +
                            kCounterBlockHeaderSize;
      std::memcpy(out, part, size);
      Put32(out, size);
      Put32(out + 40, 0xFFFFFFFFu);
      out += size;
      *totalBytes += size;
      ++*objectCount;
    }
    part += obj.blockSize;
  }
  *data = out;
  return 0;
}

int32_t PrfData::AddTexts(const std::string& languageKey, const char* valueName, bool help) {
  std::string value;
  ReadBytes(languageKey, valueName, &value);
  value.resize(MultiStringContent(&value));
  uint32_t index = help ? firstHelp : firstCounter;
  for (uint32_t i = 0; i < entryCount; ++i, index += 2) {
    value += IndexBytes(index);
    value.append(2, '\0');
    const char16_t* text = help ? table[i].help : table[i].name;
    lxos::AppendUtf16Bytes(&value, text, lxos::WideLength(text) + 1);
  }
  value.append(2, '\0');
  return lxos::RegSetValue(languageKey.c_str(), valueName, lxos::kRegMultiSz, value.data(),
                           static_cast<uint32_t>(value.size()));
}

int32_t PrfData::CutTexts(const std::string& languageKey, const char* valueName, uint32_t first,
                          uint32_t last) {
  std::string value;
  if (!ReadBytes(languageKey, valueName, &value)) return 0;
  size_t start = FindIndex(value, first, 0);
  if (start == std::string::npos) return 0;
  size_t lastPos = FindIndex(value, last, start == 0 ? 0 : start - 2);
  if (lastPos == std::string::npos) return 0;
  size_t end = SkipString(value, SkipString(value, lastPos));
  value.erase(start, end - start);
  return lxos::RegSetValue(languageKey.c_str(), valueName, lxos::kRegMultiSz, value.data(),
                           static_cast<uint32_t>(value.size()));
}

int32_t PrfData::Install(const std::string& library) {
  std::lock_guard<std::mutex> hold(g_providerMutex);
  const std::string perflib = kPerflibKey;
  uint32_t perflibLastCounter = 0, perflibLastHelp = 1;
  if (!ReadLastIndexes(perflib, &perflibLastCounter, &perflibLastHelp)) return kPrfRefused;
  const std::string key = PerformanceKey();
  if (lxos::RegKeyExists(key.c_str()) == lxos::kRegOk) return kPrfRefused;
  if (lxos::RegCreateKey(key.c_str()) != lxos::kRegOk) return kPrfRefused;
  firstCounter = lastCounter = perflibLastCounter + 2;
  firstHelp = lastHelp = perflibLastHelp + 2;
  ForEachLanguage(perflib, [this](const std::string& languageKey, bool help) {
    if (lxos::RegCreateKey(languageKey.c_str()) == lxos::kRegOk)
      AddTexts(languageKey, help ? "Help" : "Counter", help);
  });
  lastCounter = firstCounter + 2 * (entryCount - 1);
  lastHelp = firstHelp + 2 * (entryCount - 1);
  WriteDword(perflib, "Last Counter", lastCounter);
  WriteDword(perflib, "Last Help", lastHelp);
  WriteWideString(key, "Library", lxos::Utf8ToUtf16(library));
  WriteWideString(key, "Open", u"PrfData_Open");
  WriteWideString(key, "Close", u"PrfData_Close");
  WriteWideString(key, "Collect", u"PrfData_Collect");
  WriteDword(key, "First Counter", firstCounter);
  WriteDword(key, "First Help", firstHelp);
  WriteDword(key, "Last Counter", lastCounter);
  WriteDword(key, "Last Help", lastHelp);
  WriteDword(key, "Disable Performance Counters", 0);
  return 0;
}

int32_t PrfData::Remove() {
  std::lock_guard<std::mutex> hold(g_providerMutex);
  const std::string perflib = kPerflibKey;
  uint32_t perflibLastCounter = 0, perflibLastHelp = 1;
  if (!ReadLastIndexes(perflib, &perflibLastCounter, &perflibLastHelp)) return kPrfRefused;
  const std::string key = PerformanceKey();
  if (lxos::RegKeyExists(key.c_str()) != lxos::kRegOk) return kPrfRefused;
  if (!ReadDword(key, "First Counter", &firstCounter) || !ReadDword(key, "First Help", &firstHelp) ||
      !ReadDword(key, "Last Counter", &lastCounter) || !ReadDword(key, "Last Help", &lastHelp)) {
    return kPrfRefused;
  }
  if (firstCounter > lastCounter || firstHelp > lastHelp || lastCounter > perflibLastCounter ||
      lastHelp > perflibLastHelp) {
    return kPrfRefused;
  }
  ForEachLanguage(perflib, [this](const std::string& languageKey, bool help) {
    if (help) {
      CutTexts(languageKey, "Help", firstHelp, lastHelp);
    } else {
      CutTexts(languageKey, "Counter", firstCounter, lastCounter);
    }
  });
  if (lastCounter == perflibLastCounter) {
    WriteDword(perflib, "Last Counter", perflibLastCounter - 2 * entryCount);
    WriteDword(perflib, "Last Help", perflibLastHelp - 2 * entryCount);
  }
  lxos::RegDeleteKey(key.c_str());
  return 0;
}

}  // namespace lxstats

// The entry points and the installer build strings. When an allocation fails
// and the memory handler gives up, std::bad_alloc ends the call, which then
// reports what the entry point's contract says for a failure: no exception
// leaves them (a monitor calls them through C linkage).
uint32_t PrfData_Open(char16_t*) {
  try {
    lxstats::PrfDataProvider().Activate(false);
  } catch (const std::bad_alloc&) {
  }
  return 0;
}

uint32_t PrfData_Collect(char16_t* valueName, void** data, uint32_t* totalBytes, uint32_t* objectCount) {
  void* const start = data != nullptr ? *data : nullptr;
  try {
    return lxstats::PrfDataProvider().Collect(valueName, data, totalBytes, objectCount);
  } catch (const std::bad_alloc&) {
    if (data != nullptr) *data = start;
    if (totalBytes != nullptr) *totalBytes = 0;
    if (objectCount != nullptr) *objectCount = 0;
    return 0;
  }
}

uint32_t PrfData_Close() { return 0; }

int RegisterStatistics() {
  try {
    std::string path;
    if (!lxos::LibraryPath(&path)) return 0;
    // The host's module-name buffer holds 2,048 characters with the terminator.
    std::u16string wide = lxos::Utf8ToUtf16(path);
    if (wide.size() > 2047) wide.resize(2047);
    lxstats::PrfDataProvider().Install(lxos::Utf16ToUtf8(wide));
  } catch (const std::bad_alloc&) {
  }
  return 0;
}

int DeregisterStatistics() {
  try {
    lxstats::PrfDataProvider().Remove();
  } catch (const std::bad_alloc&) {
  }
  return 0;
}
