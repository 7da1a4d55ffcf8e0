// The outgoing HTTP request through MSXML's XMLHTTP 3.0 request object.
#include <windows.h>
#include <ole2.h>
#include <msxml2.h>

#include <string>

#include "platform/http_client.h"

namespace platform {
namespace {

// {F5078F35-C551-11D3-89B9-0000F81FE221}: XMLHTTP 3.0.
const GUID kXmlHttp30ClassId = {0xF5078F35, 0xC551, 0x11D3, {0x89, 0xB9, 0x00, 0x00, 0xF8, 0x1F, 0xE2, 0x21}};
// {ED8C108D-4349-11D2-91A4-00C04F7969E8}: IXMLHTTPRequest.
const GUID kXmlHttpRequestId = {0xED8C108D, 0x4349, 0x11D2, {0x91, 0xA4, 0x00, 0xC0, 0x4F, 0x79, 0x69, 0xE8}};

// Pass between two looks at the request's state: long enough not to spin a
// core, short enough that window messages and completion are served at once.
constexpr DWORD kPumpWaitMs = 10;

// A BSTR owned for the length of one call.
class OwnedBstr {
 public:
  explicit OwnedBstr(const std::u16string& text)
      : value_(SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()),
                                 static_cast<UINT>(text.size()))) {}
  ~OwnedBstr() { SysFreeString(value_); }
  OwnedBstr(const OwnedBstr&) = delete;
  OwnedBstr& operator=(const OwnedBstr&) = delete;
  BSTR get() const { return value_; }

 private:
  BSTR value_;
};

IXMLHTTPRequest* CreateRequestObject() {
  IUnknown* unknown = nullptr;
  if (FAILED(CoCreateInstance(kXmlHttp30ClassId, nullptr,
                              CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER |
                                  CLSCTX_REMOTE_SERVER,
                              IID_IUnknown, reinterpret_cast<void**>(&unknown))) ||
      unknown == nullptr) {
    return nullptr;
  }
  IXMLHTTPRequest* request = nullptr;
  if (SUCCEEDED(OleRun(unknown))) {
    if (FAILED(unknown->QueryInterface(kXmlHttpRequestId, reinterpret_cast<void**>(&request)))) {
      request = nullptr;
    }
  }
  unknown->Release();
  return request;
}

void PumpMessages() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

// Waits until the request object reports completion (readyState 4), serving
// the thread's messages meanwhile, which the asynchronous request needs. False
// when reading the state fails or the limit passes; the request is then
// aborted so that it does not go on in the background.
bool WaitForCompletion(IXMLHTTPRequest* request, int32_t totalMs, ULONGLONG startTick) {
  for (;;) {
    PumpMessages();
    LONG state = 0;
    if (FAILED(request->get_readyState(&state))) return false;
    if (state == 4) return true;
    if (GetTickCount64() - startTick >= static_cast<ULONGLONG>(totalMs)) {
      request->abort();
      return false;
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, kPumpWaitMs, QS_ALLINPUT);
  }
}

}  // namespace

HttpExchange PerformHttpRequest(const std::u16string& url, const std::u16string& method,
                                const std::u16string& body, const std::u16string& contentType,
                                const HttpRequestLimits& limits) {
  HttpExchange exchange;
  // The calling thread becomes (or stays) a single-threaded apartment; the
  // initialisation is kept for the thread's life.
  CoInitialize(nullptr);
  const ULONGLONG startTick = GetTickCount64();
  IXMLHTTPRequest* request = CreateRequestObject();
  if (request == nullptr) return exchange;

  OwnedBstr methodText(method);
  OwnedBstr urlText(url);
  OwnedBstr charsetName(u"charset");
  OwnedBstr charsetValue(u"UTF-8");
  OwnedBstr typeName(u"Content-Type");
  OwnedBstr typeValue(contentType);
  OwnedBstr bodyText(body);

  VARIANT async;
  VariantInit(&async);
  async.vt = VT_I2;
  async.iVal = -1;
  VARIANT missing;
  VariantInit(&missing);
  missing.vt = VT_ERROR;
  missing.scode = DISP_E_PARAMNOTFOUND;
  VARIANT bodyValue;
  VariantInit(&bodyValue);
  bodyValue.vt = VT_BSTR;
  bodyValue.bstrVal = bodyText.get();  // still owned by bodyText

  bool completed = SUCCEEDED(request->open(methodText.get(), urlText.get(), async, missing, missing)) &&
                   SUCCEEDED(request->setRequestHeader(charsetName.get(), charsetValue.get())) &&
                   SUCCEEDED(request->setRequestHeader(typeName.get(), typeValue.get())) &&
                   SUCCEEDED(request->send(bodyValue)) &&
                   WaitForCompletion(request, limits.totalMs, startTick);
  LONG status = 0;
  // A failed connection also completes; its status is then a transport error
  // number (12000 and above) or the status read fails.
  if (completed && SUCCEEDED(request->get_status(&status)) && status >= 100 && status <= 999) {
    exchange.answered = true;
    exchange.status = static_cast<int32_t>(status);
    BSTR text = nullptr;
    if (SUCCEEDED(request->get_responseText(&text)) && text != nullptr) {
      exchange.responseText.assign(reinterpret_cast<const char16_t*>(text), SysStringLen(text));
    }
    SysFreeString(text);
  }
  request->Release();
  return exchange;
}

}  // namespace platform
