// Result codes of the basics library: every code that one of its functions
// returns, defined once.
//
// A result is a signed 32-bit integer: 0 is success, negative values are errors,
// positive values are warnings or informational results. Codes from -9999 to
// -2000 and from 2000 up belong to the runtime's message catalog, whose texts
// LxError gives; the array, container, memory-file and memory-queue families
// (-501 to -523, -10001 and -10002, -12001 to 12006) have no catalog text.
// Each family is named LX_ + area + meaning. The module loader's codes keep their
// historical ERR_LX_ names.
#pragma once

// ---------------------------------------------------------------------------
// Catalog codes returned by several areas
// ---------------------------------------------------------------------------

constexpr int LX_CORE_OUT_OF_MEMORY = -2030;  // "The operating system returned an out of memory error."

// ---------------------------------------------------------------------------
// Runtime frame
// ---------------------------------------------------------------------------

constexpr int LX_RESIZE_FAILED = -1;                  // mmResize, mmFarResize: the block was not changed
constexpr int LX_TEST_HANDLER_FAILURE = -313;         // TestHandler's planned failure
constexpr int LX_CALLBACK_INVALID_PARAMETER = -2002;  // error-callback list: range refused
constexpr int LX_MEMORY_CHECK_NONE = -1;              // VeskCheckMemory: no check function resolved

// ---------------------------------------------------------------------------
// Arrays and lists
// ---------------------------------------------------------------------------

constexpr int LX_ARRAY_NO_STORAGE = -501;            // storage not obtained, or the list is full
constexpr int LX_ARRAY_OUT_OF_RANGE = -502;          // index or position out of range; searches: no match
constexpr int LX_ARRAY_ZERO_ELEMENT_SIZE = -503;     // Init was given element size 0
constexpr int LX_ARRAY_WRONG_KIND = -506;            // Copy from an array of another kind
constexpr int LX_ARRAY_NO_MERGE = -507;              // Merge is not supported
constexpr int LX_ARRAY_DUPLICATE = -508;             // SortedInsert refused an equal element
constexpr int LX_ARRAY_NO_COMPARE_FUNCTION = -2106;  // catalog: "No compare function for a type exists."

constexpr int LX_BITSTRING_BLOCKED = -1;          // TestAndSetArea: a bit of the area is already set
constexpr int LX_BITSTRING_OUT_OF_RANGE = -2005;  // catalog: index or range outside the string

// ---------------------------------------------------------------------------
// Ordered containers and iterators
// ---------------------------------------------------------------------------

constexpr int LX_CONTAINER_NOT_FOUND = -510;      // no entry matches (search, delete)
constexpr int LX_CONTAINER_NOT_FOUND_2 = -511;    // the not-found form of other modules' iterators
constexpr int LX_CONTAINER_EXISTS = -512;         // insertion refused: entry or key exists
constexpr int LX_CONTAINER_CHANGED = -513;        // container changed since positioning
constexpr int LX_CONTAINER_NO_DATA = -519;        // element has no data part (warning)
constexpr int LX_CONTAINER_UNBOUND = -520;        // iterator bound to no container
constexpr int LX_CONTAINER_BEFORE_FIRST = -521;   // iterator before the first entry
constexpr int LX_CONTAINER_BEHIND_LAST = -522;    // iterator behind the last entry
constexpr int LX_CONTAINER_POSITION_LOST = -523;  // iterator lost its position after LX_CONTAINER_CHANGED
constexpr int LX_CONTAINER_OUT_OF_MEMORY = LX_CORE_OUT_OF_MEMORY;  // the containers' name for it
constexpr int LX_CONTAINER_INTERNAL = -2099;                       // catalog: internal error
constexpr int LX_CONTAINER_NOT_IMPLEMENTED = -2999;                // catalog: not yet implemented

// ---------------------------------------------------------------------------
// Memory files and queues
// ---------------------------------------------------------------------------

constexpr int LX_MEMFILE_NO_MEMORY = -10001;        // SizeSet could not obtain the block
constexpr int LX_MEMFILE_BEYOND_CAPACITY = -10002;  // SetLogicalSize above the capacity

constexpr int LX_MEMQUEUE_EMPTY = -12001;        // Get on a queue without unread bytes
constexpr int LX_MEMQUEUE_NO_MEMORY = -12002;    // Put could not grow the file
constexpr int LX_MEMQUEUE_TOO_FEW = -12003;      // Get asked for more than is unread
constexpr int LX_MEMQUEUE_SHORT_READ = -12004;   // Get read or moved fewer bytes
constexpr int LX_MEMQUEUE_SHORT_WRITE = -12005;  // Put wrote fewer bytes
constexpr int LX_MEMQUEUE_NOT_REDUCED = 12006;   // compacting Get delivered, block not reduced

// ---------------------------------------------------------------------------
// Modules
// ---------------------------------------------------------------------------

constexpr int ERR_LX_MODULE_HANDLE_INVALID = -5001;
constexpr int ERR_LX_COULD_NOT_LOAD_MODULE = -5002;
constexpr int ERR_LX_COULD_NOT_GET_ENTRY = -5003;
constexpr int ERR_LX_MODULE_VERSION = -5004;  // a failed version check (CheckLxVersionNumber, LxCheckDll)

// ---------------------------------------------------------------------------
// Platform services
// ---------------------------------------------------------------------------

constexpr int LX_TIME_ZONE_UNKNOWN = -2171;  // catalog: no time-zone offset could be determined
constexpr int LX_REGISTRY_FAILED = -1;       // value or key missing, buffer too small, or the store failed
constexpr int LX_REGISTRY_INVALID_PARAMETER = -2530;  // catalog: "Invalid parameter."

// ---------------------------------------------------------------------------
// Statistics
// ---------------------------------------------------------------------------

constexpr int LX_PRFDATA_MORE_DATA = 234;  // PrfData_Collect: the buffer is too small (ERROR_MORE_DATA)
