// The host's side of the conversion plug-in: finding the plug-in in the host's list in the
// registry store and driving its conversion object, as the input method's framework does.
// vesk and the Fcitx5 add-on are both hosts; they differ only in where texts come from.
//
//   TConnectResult found = ConnectToPlugin();          // needs an apartment on this thread
//   if (found.Link) { found.Link->PutHyoki(...); found.Link->GetResult(&result); }
//   else Report(found.Failure, found.Detail);
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/win/OleTypes.h"

namespace veskmath::host {

// The four members as a host calls them, whatever stands behind the object.
class TLink {
 public:
  virtual ~TLink() = default;
  virtual win::HRESULT PutYomi(const win::BSTR& value) = 0;
  virtual win::HRESULT PutHyoki(const win::BSTR& value) = 0;
  virtual win::HRESULT GetResult(win::BSTR* value) = 0;
  virtual win::HRESULT Start(std::int32_t hWnd) = 0;
};

// An object of another process, called late-bound by the members' names.
class TDispatchLink final : public TLink {
 public:
  explicit TDispatchLink(win::ComPtr<win::IDispatch> object);
  win::HRESULT PutYomi(const win::BSTR& value) override;
  win::HRESULT PutHyoki(const win::BSTR& value) override;
  win::HRESULT GetResult(win::BSTR* value) override;
  win::HRESULT Start(std::int32_t hWnd) override;

 private:
  win::HRESULT IdOf(const char16_t* name, win::DISPID& id);
  win::HRESULT Put(const char16_t* name, const win::BSTR& value);

  win::ComPtr<win::IDispatch> FObject;
};

// Makes the host's own key when it is missing, as an installed host has it. Returns the
// registry's message when that failed (the lookup below then reports what it finds).
std::optional<std::string> EnsureHostKey();

// The plug-in's ProgID from the host's list ("01", "02", ... up to the first missing
// number); entries of other plug-ins are passed over. Throws the registry's exceptions.
std::optional<std::string> FindPlugin();

enum class TConnectFailure {
  None,
  RegistryUnreadable,  // Detail: the registry's message (texts in the system code page)
  NotInstalled,        // no entry of the plug-in in the host's list
  ClassNotRegistered,  // Detail: the ProgID that is listed but has no class entries
  CreateFailed,        // HResult and Detail (the error information's description, UTF-8)
};

struct TConnectResult {
  std::unique_ptr<TLink> Link;  // set on success
  TConnectFailure Failure = TConnectFailure::None;
  win::HRESULT HResult = win::S_OK;
  std::string Detail;
  win::CLSID Clsid{};  // the plug-in's class, once its ProgID was found registered
};

// Finds the installed plug-in and creates its object through the ProgID from the local
// server (started on demand). The calling thread must be in an apartment; member names are
// resolved from the type library this process knows, so the server is not asked for them.
TConnectResult ConnectToPlugin();

// Why the notation (UTF-8, as typed) answers "?" now, asked of the class's server: the
// engine's or the system's message, UTF-8; empty when it evaluates or the server cannot say.
// The server reads the history for it, never writes it.
std::string ExplainFailure(std::string_view notation);

// The description of the calling thread's error information, UTF-8; empty when none.
std::string ErrorDescription();

}  // namespace veskmath::host
