// The pieces every framework class stands on: the live-object count, the reference-counted base,
// media type records, the node list and the pin and media type enumerators.
#include <cstring>
#include <new>

#include "media/dshow_framework.h"

namespace {
LONG volatile liveObjects = 0;
std::atomic<HMODULE> oleAut32{nullptr};
}  // namespace

K_CCountedObject::K_CCountedObject() { InterlockedIncrement(&liveObjects); }
K_CCountedObject::~K_CCountedObject() {
  // The automation library is only needed while some object may still describe itself.
  if (InterlockedDecrement(&liveObjects) == 0) {
    HMODULE module = oleAut32.exchange(nullptr);
    if (module != nullptr) FreeLibrary(module);
  }
}
LONG LiveFrameworkObjectCount() { return liveObjects; }

HMODULE FrameworkOleAut32() {
  HMODULE module = oleAut32.load();
  if (module != nullptr) return module;
  module = LoadLibraryA("OleAut32.dll");
  if (module == nullptr) return nullptr;
  HMODULE expected = nullptr;
  if (oleAut32.compare_exchange_strong(expected, module)) return module;
  FreeLibrary(module);  // another thread loaded it first
  return expected;
}

K_CComBase::K_CComBase(IUnknown* outer) {
  inner_.self = this;
  owner_ = outer != nullptr ? outer : &inner_;
}

HRESULT K_CComBase::InnerQueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (riid == IID_IUnknown) return GetInterface(&inner_, object);
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG K_CComBase::InnerAddRef() {
  const LONG count = InterlockedIncrement(&references_);
  return count < 1 ? 1 : static_cast<ULONG>(count);
}

ULONG K_CComBase::InnerRelease() {
  const LONG count = InterlockedDecrement(&references_);
  if (count == 0) {
    // Back to 1 so that an object its destructor hands itself to is not deleted twice.
    references_ = 1;
    delete this;
    return 0;
  }
  return count < 1 ? 1 : static_cast<ULONG>(count);
}

HRESULT GetInterface(IUnknown* unknown, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = unknown;
  unknown->AddRef();
  return S_OK;
}

size_t WideStringLength(LPCWSTR text) {
  size_t length = 0;
  if (text != nullptr)
    while (text[length] != 0) ++length;
  return length;
}

int CompareWideStrings(LPCWSTR a, LPCWSTR b) {
  if (a == nullptr) a = u"";
  if (b == nullptr) b = u"";
  while (*a != 0 && *a == *b) ++a, ++b;
  return static_cast<int>(*a) - static_cast<int>(*b);
}

WCHAR* DuplicateWideString(LPCWSTR source) {
  if (source == nullptr) return nullptr;
  const size_t length = WideStringLength(source);
  auto* copy = new (std::nothrow) WCHAR[length + 1];
  if (copy != nullptr) std::memcpy(copy, source, (length + 1) * sizeof(WCHAR));
  return copy;
}

void CopyWideStringCut(WCHAR* target, size_t capacity, LPCWSTR source) {
  if (capacity == 0) return;
  size_t i = 0;
  for (; source != nullptr && i + 1 < capacity && source[i] != 0; ++i) target[i] = source[i];
  target[i] = 0;
}

HRESULT CopyStringToTaskMemory(LPCWSTR source, LPWSTR* copy) {
  if (copy == nullptr) return E_POINTER;
  const size_t bytes = (WideStringLength(source) + 1) * sizeof(WCHAR);
  *copy = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
  if (*copy == nullptr) return E_OUTOFMEMORY;
  if (source == nullptr) {
    **copy = 0;
  } else {
    std::memcpy(*copy, source, bytes);
  }
  return S_OK;
}

void ClearMediaType(MediaTypeObject* type) {
  std::memset(static_cast<void*>(type), 0, sizeof(*type));
  type->bFixedSizeSamples = TRUE;
  type->lSampleSize = 1;
}

void ReleaseMediaTypeContents(MediaTypeObject* type) {
  if (type->cbFormat != 0 || type->pbFormat != nullptr) {
    CoTaskMemFree(type->pbFormat);
    type->cbFormat = 0;
    type->pbFormat = nullptr;
  }
  if (type->pUnk != nullptr) {
    type->pUnk->Release();
    type->pUnk = nullptr;
  }
}

HRESULT CopyMediaType(MediaTypeObject* target, const MediaTypeObject* source) {
  *target = *source;
  if (source->cbFormat != 0 && source->pbFormat != nullptr) {
    target->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(source->cbFormat));
    if (target->pbFormat == nullptr) {
      target->cbFormat = 0;
      target->pUnk = nullptr;
      return E_OUTOFMEMORY;
    }
    std::memcpy(target->pbFormat, source->pbFormat, source->cbFormat);
  } else {
    target->cbFormat = 0;
    target->pbFormat = nullptr;
  }
  if (target->pUnk != nullptr) target->pUnk->AddRef();
  return S_OK;
}

HRESULT AssignMediaType(MediaTypeObject* target, const MediaTypeObject* source) {
  if (target == source) return S_OK;
  ReleaseMediaTypeContents(target);
  return CopyMediaType(target, source);
}

MediaTypeObject* CreateMediaTypeCopy(const MediaTypeObject* source) {
  auto* copy = static_cast<MediaTypeObject*>(CoTaskMemAlloc(sizeof(MediaTypeObject)));
  if (copy == nullptr) return nullptr;
  if (FAILED(CopyMediaType(copy, source))) {
    CoTaskMemFree(copy);
    return nullptr;
  }
  return copy;
}

void DeleteMediaType(MediaTypeObject* type) {
  if (type == nullptr) return;
  ReleaseMediaTypeContents(type);
  CoTaskMemFree(type);
}

namespace {
bool FormatBlocksEqual(const MediaTypeObject& a, const MediaTypeObject& b) {
  if (a.cbFormat != b.cbFormat) return false;
  if (a.cbFormat == 0) return true;
  if (a.pbFormat == nullptr || b.pbFormat == nullptr) return a.pbFormat == b.pbFormat;
  return std::memcmp(a.pbFormat, b.pbFormat, a.cbFormat) == 0;
}
}  // namespace

bool MediaTypesEqual(const MediaTypeObject& a, const MediaTypeObject& b) {
  return a.majortype == b.majortype && a.subtype == b.subtype && a.formattype == b.formattype &&
         FormatBlocksEqual(a, b);
}

bool IsPartiallySpecified(const MediaTypeObject& type) {
  return type.majortype == GUID_NULL || type.formattype == GUID_NULL;
}

bool MatchesPartial(const MediaTypeObject& type, const MediaTypeObject& partial) {
  if (!(partial.majortype == GUID_NULL) && !(partial.majortype == type.majortype)) return false;
  if (!(partial.subtype == GUID_NULL) && !(partial.subtype == type.subtype)) return false;
  if (!(partial.formattype == GUID_NULL)) {
    if (!(partial.formattype == type.formattype)) return false;
    if (!FormatBlocksEqual(type, partial)) return false;
  }
  return true;
}

K_CNodeList::~K_CNodeList() {
  RemoveAll();
  while (spare_ != nullptr) {
    Node* next = spare_->next;
    delete spare_;
    spare_ = next;
  }
}

K_CNodeList::Node* K_CNodeList::AddTail(void* object) {
  Node* node = spare_;
  if (node != nullptr) {
    spare_ = node->next;
    --spareCount_;
  } else {
    node = new (std::nothrow) Node;
    if (node == nullptr) return nullptr;
  }
  node->object = object;
  node->next = nullptr;
  node->previous = last_;
  if (last_ != nullptr) {
    last_->next = node;
  } else {
    first_ = node;
  }
  last_ = node;
  ++count_;
  return node;
}

void* K_CNodeList::Remove(Node* node) {
  if (node == nullptr) return nullptr;
  if (node->previous != nullptr) {
    node->previous->next = node->next;
  } else {
    first_ = node->next;
  }
  if (node->next != nullptr) {
    node->next->previous = node->previous;
  } else {
    last_ = node->previous;
  }
  --count_;
  void* object = node->object;
  if (spareCount_ < 10) {
    node->next = spare_;
    spare_ = node;
    ++spareCount_;
  } else {
    delete node;
  }
  return object;
}

K_CNodeList::Node* K_CNodeList::Find(const void* object) const {
  for (Node* node = first_; node != nullptr; node = node->next)
    if (node->object == object) return node;
  return nullptr;
}

void K_CNodeList::RemoveAll() {
  while (first_ != nullptr) Remove(first_);
}

K_CPinEnumerator::K_CPinEnumerator(K_CFilterBase* filter, const K_CPinEnumerator* copyFrom)
    : filter_(filter) {
  filter_->AsBaseFilter()->AddRef();
  if (copyFrom != nullptr) {
    position_ = copyFrom->position_;
    pinCount_ = copyFrom->pinCount_;
    version_ = copyFrom->version_;
    for (auto* node = copyFrom->handedOut_.First(); node != nullptr; node = node->next)
      handedOut_.AddTail(node->object);
  } else {
    Reset();
  }
}

K_CPinEnumerator::~K_CPinEnumerator() { filter_->AsBaseFilter()->Release(); }

HRESULT K_CPinEnumerator::QueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (riid == IID_IEnumPins || riid == IID_IUnknown) return GetInterface(this, object);
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG K_CPinEnumerator::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&references_)); }

ULONG K_CPinEnumerator::Release() {
  const LONG count = InterlockedDecrement(&references_);
  if (count == 0) delete this;
  return static_cast<ULONG>(count);
}

HRESULT K_CPinEnumerator::Next(ULONG count, IPin** pins, ULONG* fetched) {
  if (pins == nullptr) return E_POINTER;
  if (fetched == nullptr && count > 1) return E_INVALIDARG;
  if (fetched != nullptr) *fetched = 0;
  // A pin added since the enumerator was made is found by refreshing, not reported as an error.
  if (filter_->PinVersion() != version_) {
    pinCount_ = filter_->PinCount();
    version_ = filter_->PinVersion();
    position_ = 0;
  }
  ULONG returned = 0;
  while (returned < count && position_ < pinCount_) {
    K_CPinBase* pin = filter_->PinAt(position_++);
    if (pin == nullptr) break;
    IPin* asPin = pin;
    if (handedOut_.Find(asPin) != nullptr) continue;
    if (handedOut_.AddTail(asPin) == nullptr) break;
    asPin->AddRef();
    pins[returned++] = asPin;
  }
  if (fetched != nullptr) *fetched = returned;
  return returned == count ? S_OK : S_FALSE;
}

HRESULT K_CPinEnumerator::Skip(ULONG count) {
  if (filter_->PinVersion() != version_) return VFW_E_ENUM_OUT_OF_SYNC;
  if (static_cast<ULONG>(pinCount_ - position_) < count) return S_FALSE;
  position_ += static_cast<int>(count);
  return S_OK;
}

HRESULT K_CPinEnumerator::Reset() {
  version_ = filter_->PinVersion();
  pinCount_ = filter_->PinCount();
  position_ = 0;
  handedOut_.RemoveAll();
  return S_OK;
}

HRESULT K_CPinEnumerator::Clone(IEnumPins** copy) {
  if (copy == nullptr) return E_POINTER;
  *copy = nullptr;
  if (filter_->PinVersion() != version_) return VFW_E_ENUM_OUT_OF_SYNC;
  auto* clone = new (std::nothrow) K_CPinEnumerator(filter_, this);
  if (clone == nullptr) return E_OUTOFMEMORY;
  *copy = clone;
  return S_OK;
}

K_CMediaTypeEnumerator::K_CMediaTypeEnumerator(K_CPinBase* pin,
                                               const K_CMediaTypeEnumerator* copyFrom)
    : pin_(pin) {
  static_cast<IPin*>(pin_)->AddRef();
  if (copyFrom != nullptr) {
    position_ = copyFrom->position_;
    version_ = copyFrom->version_;
  } else {
    Reset();
  }
}

K_CMediaTypeEnumerator::~K_CMediaTypeEnumerator() { static_cast<IPin*>(pin_)->Release(); }

HRESULT K_CMediaTypeEnumerator::QueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (riid == IID_IEnumMediaTypes || riid == IID_IUnknown) return GetInterface(this, object);
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG K_CMediaTypeEnumerator::AddRef() {
  return static_cast<ULONG>(InterlockedIncrement(&references_));
}

ULONG K_CMediaTypeEnumerator::Release() {
  const LONG count = InterlockedDecrement(&references_);
  if (count == 0) delete this;
  return static_cast<ULONG>(count);
}

HRESULT K_CMediaTypeEnumerator::Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) {
  if (types == nullptr) return E_POINTER;
  if (pin_->TypeVersion() != version_) return VFW_E_ENUM_OUT_OF_SYNC;
  if (fetched == nullptr && count > 1) return E_INVALIDARG;
  ULONG returned = 0;
  while (returned < count) {
    MediaTypeObject type;
    ClearMediaType(&type);
    const HRESULT result = pin_->MediaTypeAt(position_++, &type);
    if (result != S_OK) {
      ReleaseMediaTypeContents(&type);
      break;
    }
    auto* record = static_cast<MediaTypeObject*>(CoTaskMemAlloc(sizeof(MediaTypeObject)));
    if (record == nullptr) {
      ReleaseMediaTypeContents(&type);
      break;
    }
    // The record takes the format block and the format object over.
    *record = type;
    types[returned++] = record;
  }
  if (fetched != nullptr) *fetched = returned;
  return returned == count ? S_OK : S_FALSE;
}

HRESULT K_CMediaTypeEnumerator::Skip(ULONG count) {
  if (count == 0) return S_OK;
  if (pin_->TypeVersion() != version_) return VFW_E_ENUM_OUT_OF_SYNC;
  position_ += static_cast<int>(count);
  MediaTypeObject type;
  ClearMediaType(&type);
  const HRESULT result = pin_->MediaTypeAt(position_ - 1, &type);
  ReleaseMediaTypeContents(&type);
  return result == S_OK ? S_OK : S_FALSE;
}

HRESULT K_CMediaTypeEnumerator::Reset() {
  position_ = 0;
  version_ = pin_->TypeVersion();
  return S_OK;
}

HRESULT K_CMediaTypeEnumerator::Clone(IEnumMediaTypes** copy) {
  if (copy == nullptr) return E_POINTER;
  *copy = nullptr;
  if (pin_->TypeVersion() != version_) return VFW_E_ENUM_OUT_OF_SYNC;
  auto* clone = new (std::nothrow) K_CMediaTypeEnumerator(pin_, this);
  if (clone == nullptr) return E_OUTOFMEMORY;
  *copy = clone;
  return S_OK;
}
