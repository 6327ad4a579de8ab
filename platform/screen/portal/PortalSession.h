#pragma once
// A screen-cast session of the desktop portal (org.freedesktop.portal.ScreenCast) on the
// user's session bus, through sd-bus: every monitor, the cursor as metadata, and a restore
// token kept in the user's state folder so that the desktop asks for consent only once.
// Every call blocks the calling thread until the portal answers or the deadline passes.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Classes.h"

namespace ombrix {

enum TPortalProblem {
  ppNone,
  ppNoSessionBus,      // no D-Bus session bus to reach the portal on
  ppNoPortal,          // xdg-desktop-portal does not answer
  ppNoScreenCast,      // the portal has no ScreenCast (the desktop's backend is missing)
  ppNoCursorMetadata,  // the desktop cannot tell where the cursor is
  ppRefused,           // the user did not allow the screen to be shared
  ppNoAnswer,          // the consent dialog was not answered in time
  ppFailed,            // the portal or the stream failed otherwise
};

struct TPortalFailure {
  TPortalProblem problem = ppNone;
  std::string detail;  // what the portal or the bus said, for the stderr line
};

// One stream of the session: the PipeWire node and where its monitor lies on the virtual
// desktop, in logical pixels (size 0 x 0 when the portal did not say).
struct TPortalStream {
  uint32_t node = 0;
  TRect logical;
};

struct TPortalOptions {
  // Where the restore token lives; empty: RestoreTokenPath() of the environment.
  std::string tokenFile;
  // How long the user may take over the consent dialog.
  std::chrono::milliseconds consentTimeout{std::chrono::minutes(5)};
  // How long any other call may take.
  std::chrono::milliseconds callTimeout{std::chrono::seconds(20)};
};

// The file of the restore token: $XDG_STATE_HOME/ombrix/screencast-token, with
// $HOME/.local/state in place of an unset or relative XDG_STATE_HOME. Empty without either.
std::string RestoreTokenPath(const char* xdgStateHome, const char* home);
// The saved token, empty when there is none.
std::string LoadRestoreToken(const std::string& path);
// Replaces the saved token (the folder made 0700 when new, the file 0600 from its creation on,
// written whole and renamed into place). False when it cannot be written.
bool SaveRestoreToken(const std::string& path, const std::string& token);

class PortalSession {
 public:
  // Opens the session, asks for every monitor (offering the saved token), starts it and keeps
  // the new token. Null with `failure` filled when any step fails.
  static std::unique_ptr<PortalSession> Start(const TPortalOptions& options,
                                              TPortalFailure& failure);
  ~PortalSession();  // closes the session
  PortalSession(const PortalSession&) = delete;
  PortalSession& operator=(const PortalSession&) = delete;

  const std::vector<TPortalStream>& Streams() const { return streams_; }
  // A new descriptor of the PipeWire remote that carries the streams (the caller owns it), or
  // -1 with `failure` filled.
  int OpenPipeWireRemote(TPortalFailure& failure);

 private:
  struct Bus;
  explicit PortalSession(std::unique_ptr<Bus> bus);
  std::unique_ptr<Bus> bus_;
  std::string handle_;
  std::vector<TPortalStream> streams_;
};

}  // namespace ombrix
