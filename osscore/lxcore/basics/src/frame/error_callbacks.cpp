// The module error-callback list.
#include "lxframe.h"

LxModuleErrorCallbackList& LxModuleErrorCallbackList::GetInstance() {
  static LxModuleErrorCallbackList instance;
  return instance;
}

int LxModuleErrorCallbackList::SetModuleErrorCallback(LxModuleErrorCallback cb, int upper, int lower) {
  if (upper < lower) return LX_CALLBACK_INVALID_PARAMETER;
  if (cb == nullptr) {
    for (int i = kSlots - 1; i >= 0; --i) {
      if (upperCode[i] == upper && lowerCode[i] == lower) {
        callback[i] = nullptr;
        upperCode[i] = 0;
        lowerCode[i] = 0;
        return 0;
      }
    }
    return LX_CALLBACK_INVALID_PARAMETER;
  }
  int slot = 0;
  for (int i = 0; i < kSlots; ++i) {
    if (callback[i] != nullptr) slot = i + 1;
  }
  for (int i = 0; i < slot; ++i) {
    if (callback[i] != nullptr && lower <= upperCode[i] && upper >= lowerCode[i])
      return LX_CALLBACK_INVALID_PARAMETER;
  }
  if (slot >= kSlots) return LX_CALLBACK_INVALID_PARAMETER;
  callback[slot] = cb;
  upperCode[slot] = upper;
  lowerCode[slot] = lower;
  return 0;
}

char* LxModuleErrorCallbackList::GetError(int code) {
  for (int i = kSlots - 1; i >= 0; --i) {
    if (callback[i] != nullptr && lowerCode[i] < code && code < upperCode[i]) return callback[i](code);
  }
  return nullptr;
}
