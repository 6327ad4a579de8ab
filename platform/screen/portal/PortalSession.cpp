#include "PortalSession.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <utility>

namespace ombrix {
namespace {

constexpr const char* kPortal = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
constexpr const char* kScreenCast = "org.freedesktop.portal.ScreenCast";
// The portal's numbers: sources, cursor modes, persistence.
constexpr uint32_t kMonitorSource = 1;
constexpr uint32_t kCursorMetadata = 4;
constexpr uint32_t kPersistUntilRevoked = 2;

uint64_t Microseconds(std::chrono::milliseconds ms) {
  return static_cast<uint64_t>(std::max<int64_t>(ms.count(), 0)) * 1000;
}

// Owners for what sd-bus hands out.
struct MessageUnref {
  void operator()(sd_bus_message* m) const noexcept { sd_bus_message_unref(m); }
};
using Message = std::unique_ptr<sd_bus_message, MessageUnref>;
struct SlotUnref {
  void operator()(sd_bus_slot* s) const noexcept { sd_bus_slot_unref(s); }
};
using Slot = std::unique_ptr<sd_bus_slot, SlotUnref>;
struct ErrorOwner {
  sd_bus_error error = SD_BUS_ERROR_NULL;
  ~ErrorOwner() { sd_bus_error_free(&error); }
  std::string Text(int r) const {
    if (sd_bus_error_is_set(&error))
      return std::string(error.name) + ": " + (error.message ? error.message : "");
    return std::strerror(-r);
  }
};

// An option of a call's a{sv} dictionary: a string, an unsigned number or a boolean.
struct Option {
  const char* key;
  char type;
  std::string text;
  uint32_t number = 0;
};

int AppendOptions(sd_bus_message* m, const std::vector<Option>& options) {
  int r = sd_bus_message_open_container(m, 'a', "{sv}");
  for (const Option& o : options) {
    if (r < 0) break;
    const char contents[2] = {o.type, '\0'};
    r = sd_bus_message_open_container(m, 'e', "sv");
    if (r >= 0) r = sd_bus_message_append_basic(m, 's', o.key);
    if (r >= 0) r = sd_bus_message_open_container(m, 'v', contents);
    if (r >= 0) {
      if (o.type == 's') {
        r = sd_bus_message_append_basic(m, 's', o.text.c_str());
      } else if (o.type == 'b') {
        const int value = o.number != 0;
        r = sd_bus_message_append_basic(m, 'b', &value);
      } else {
        r = sd_bus_message_append_basic(m, 'u', &o.number);
      }
    }
    if (r >= 0) r = sd_bus_message_close_container(m);
    if (r >= 0) r = sd_bus_message_close_container(m);
  }
  if (r >= 0) r = sd_bus_message_close_container(m);
  return r;
}

// Walks an a{sv} dictionary at the message's read position, handing each key and the variant's
// signature to `entry`, which reads the variant or returns false to have it skipped.
int ReadDictionary(sd_bus_message* m,
                   const std::function<bool(const std::string&, const char*)>& entry) {
  int r = sd_bus_message_enter_container(m, 'a', "{sv}");
  if (r < 0) return r;
  while ((r = sd_bus_message_enter_container(m, 'e', "sv")) > 0) {
    const char* key = nullptr;
    char type = 0;
    const char* contents = nullptr;
    if ((r = sd_bus_message_read_basic(m, 's', &key)) < 0) return r;
    if ((r = sd_bus_message_peek_type(m, &type, &contents)) < 0) return r;
    if (!entry(key, contents ? contents : "") && (r = sd_bus_message_skip(m, "v")) < 0) return r;
    if ((r = sd_bus_message_exit_container(m)) < 0) return r;
  }
  if (r < 0) return r;
  return sd_bus_message_exit_container(m);
}

// The streams of Start's answer: a(ua{sv}), each with its position and size.
int ReadStreams(sd_bus_message* m, std::vector<TPortalStream>& streams) {
  int r = sd_bus_message_enter_container(m, 'v', "a(ua{sv})");
  if (r >= 0) r = sd_bus_message_enter_container(m, 'a', "(ua{sv})");
  if (r < 0) return r;
  while ((r = sd_bus_message_enter_container(m, 'r', "ua{sv}")) > 0) {
    TPortalStream stream;
    int32_t x = 0, y = 0, w = 0, h = 0;
    if ((r = sd_bus_message_read_basic(m, 'u', &stream.node)) < 0) return r;
    r = ReadDictionary(m, [&](const std::string& key, const char* contents) {
      if (std::strcmp(contents, "(ii)") != 0) return false;
      if (key == "position") return sd_bus_message_read(m, "v", "(ii)", &x, &y) >= 0;
      if (key == "size") return sd_bus_message_read(m, "v", "(ii)", &w, &h) >= 0;
      return false;
    });
    if (r < 0) return r;
    stream.logical = {x, y, x + w, y + h};
    streams.push_back(stream);
    if ((r = sd_bus_message_exit_container(m)) < 0) return r;
  }
  if (r < 0) return r;
  if ((r = sd_bus_message_exit_container(m)) < 0) return r;
  return sd_bus_message_exit_container(m);
}

}  // namespace

std::string RestoreTokenPath(const char* xdgStateHome, const char* home) {
  if (xdgStateHome && xdgStateHome[0] == '/')
    return std::string(xdgStateHome) + "/ombrix/screencast-token";
  if (home && home[0] == '/') return std::string(home) + "/.local/state/ombrix/screencast-token";
  return {};
}

std::string LoadRestoreToken(const std::string& path) {
  std::ifstream in(path);
  std::string token;
  if (in) std::getline(in, token);
  return token;
}

bool SaveRestoreToken(const std::string& path, const std::string& token) {
  const std::size_t slash = path.rfind('/');
  if (path.empty() || slash == std::string::npos || slash == 0) return false;
  // Make the missing folders, the last ones private: the token lets its holder see the screen.
  for (std::size_t at = path.find('/', 1); at != std::string::npos && at <= slash;
       at = path.find('/', at + 1)) {
    const std::string folder = path.substr(0, at);
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  const std::string temporary = path + ".new";
  const int fd =
      open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return false;
  const std::string line = token + "\n";
  // An older file of ours may have had a wider mode: the new one never has.
  bool written = fchmod(fd, 0600) == 0 &&
                 write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
  written = close(fd) == 0 && written;
  if (!written || rename(temporary.c_str(), path.c_str()) != 0) {
    unlink(temporary.c_str());
    return false;
  }
  return true;
}

struct PortalSession::Bus {
  sd_bus* bus = nullptr;
  std::string sender;  // our unique name as the portal writes it in request paths
  unsigned requests = 0;
  std::string tokenPrefix;
  ~Bus() {
    if (bus) sd_bus_flush_close_unref(bus);
  }

  struct Answer {
    bool arrived = false;
    uint32_t response = 2;
    Message results;
  };

  static int OnResponse(sd_bus_message* m, void* userdata, sd_bus_error*) {
    auto* answer = static_cast<Answer*>(userdata);
    answer->arrived = true;
    answer->results.reset(sd_bus_message_ref(m));
    sd_bus_message_read_basic(m, 'u', &answer->response);
    return 0;
  }

  // Calls a method of the ScreenCast portal that answers through a Request object, then waits
  // for that answer. `append` adds the arguments before the options.
  bool Request(const char* method, const std::function<int(sd_bus_message*)>& append,
               std::vector<Option> options, std::chrono::milliseconds timeout, Answer& answer,
               TPortalFailure& failure) {
    const std::string token = tokenPrefix + std::to_string(++requests);
    const std::string path = "/org/freedesktop/portal/desktop/request/" + sender + "/" + token;
    // Listen before calling: the answer may come before the call's reply.
    sd_bus_slot* raw = nullptr;
    int r = sd_bus_match_signal(bus, &raw, nullptr, path.c_str(), "org.freedesktop.portal.Request",
                                "Response", &Bus::OnResponse, &answer);
    Slot match(raw);
    sd_bus_message* rawCall = nullptr;
    if (r >= 0)
      r = sd_bus_message_new_method_call(bus, &rawCall, kPortal, kPortalPath, kScreenCast, method);
    Message call(rawCall);
    if (r >= 0) r = append(call.get());
    options.push_back({"handle_token", 's', token});
    if (r >= 0) r = AppendOptions(call.get(), options);
    ErrorOwner error;
    sd_bus_message* rawReply = nullptr;
    if (r >= 0) r = sd_bus_call(bus, call.get(), Microseconds(timeout), &error.error, &rawReply);
    Message reply(rawReply);
    if (r < 0) {
      failure = {ppFailed, std::string(method) + ": " + error.Text(r)};
      return false;
    }
    const char* handle = nullptr;
    Slot otherMatch;
    if (sd_bus_message_read_basic(reply.get(), 'o', &handle) >= 0 && handle && path != handle) {
      // A portal older than handle tokens names the request itself.
      sd_bus_match_signal(bus, &raw, nullptr, handle, "org.freedesktop.portal.Request", "Response",
                          &Bus::OnResponse, &answer);
      otherMatch.reset(raw);
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!answer.arrived) {
      r = sd_bus_process(bus, nullptr);
      if (r > 0) continue;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (r >= 0 && left.count() <= 0) {
        failure = {ppNoAnswer, std::string(method) + ": no answer from the portal"};
        return false;
      }
      if (r >= 0) r = sd_bus_wait(bus, Microseconds(left));
      if (r < 0) {
        failure = {ppFailed, std::string(method) + ": " + std::strerror(-r)};
        return false;
      }
    }
    if (answer.response == 1) {
      failure = {ppRefused, "the screen cast was not allowed"};
      return false;
    }
    if (answer.response != 0) {
      failure = {ppFailed, std::string(method) + ": the portal ended the request"};
      return false;
    }
    return true;
  }
};

PortalSession::PortalSession(std::unique_ptr<Bus> bus) : bus_(std::move(bus)) {}

PortalSession::~PortalSession() {
  if (!handle_.empty()) {
    ErrorOwner error;
    sd_bus_call_method(bus_->bus, kPortal, handle_.c_str(), "org.freedesktop.portal.Session",
                       "Close", &error.error, nullptr, "");
  }
}

std::unique_ptr<PortalSession> PortalSession::Start(const TPortalOptions& options,
                                                    TPortalFailure& failure) {
  auto bus = std::make_unique<Bus>();
  int r = sd_bus_open_user(&bus->bus);
  if (r < 0) {
    failure = {ppNoSessionBus, std::strerror(-r)};
    return nullptr;
  }
  const char* unique = nullptr;
  if (sd_bus_get_unique_name(bus->bus, &unique) < 0 || !unique || unique[0] != ':') {
    failure = {ppNoSessionBus, "no name on the session bus"};
    return nullptr;
  }
  for (const char* c = unique + 1; *c; ++c) bus->sender += *c == '.' ? '_' : *c;
  std::random_device random;
  bus->tokenPrefix = "ombrix" + std::to_string(random() % 1000000u) + "_";

  // Whether the portal is there, has ScreenCast, and can tell where the cursor is.
  ErrorOwner error;
  uint32_t cursorModes = 0;
  r = sd_bus_get_property_trivial(bus->bus, kPortal, kPortalPath, kScreenCast,
                                  "AvailableCursorModes", &error.error, 'u', &cursorModes);
  if (r < 0) {
    const bool noPortal = sd_bus_error_has_names(&error.error, SD_BUS_ERROR_SERVICE_UNKNOWN,
                                                 SD_BUS_ERROR_NAME_HAS_NO_OWNER,
                                                 "org.freedesktop.DBus.Error.Spawn.ChildExited",
                                                 "org.freedesktop.DBus.Error.Spawn.ExecFailed");
    failure = {noPortal ? ppNoPortal : ppNoScreenCast, error.Text(r)};
    return nullptr;
  }
  if ((cursorModes & kCursorMetadata) == 0) {
    // The modes it does offer tell a user which kind of desktop this is (wlroots: hidden and
    // embedded, the cursor drawn into the picture, where nothing says where it is).
    std::string offered;
    static constexpr std::pair<uint32_t, const char*> kModes[] = {
        {1, "hidden"}, {2, "embedded"}, {kCursorMetadata, "metadata"}};
    for (const auto& [bit, name] : kModes) {
      if ((cursorModes & bit) != 0) offered += (offered.empty() ? "" : ", ") + std::string(name);
    }
    failure = {ppNoCursorMetadata,
               "its cursor modes: " + (offered.empty() ? std::string("none") : offered)};
    return nullptr;
  }

  std::unique_ptr<PortalSession> session(new PortalSession(std::move(bus)));
  Bus& b = *session->bus_;
  Bus::Answer created;
  if (!b.Request(
          "CreateSession", [](sd_bus_message*) { return 0; },
          {{"session_handle_token", 's', b.tokenPrefix + "session"}}, options.callTimeout, created,
          failure))
    return nullptr;
  ReadDictionary(created.results.get(), [&](const std::string& key, const char* contents) {
    if (key != "session_handle" || (std::strcmp(contents, "s") && std::strcmp(contents, "o")))
      return false;
    const char* handle = nullptr;
    if (sd_bus_message_read(created.results.get(), "v", contents, &handle) < 0) return false;
    session->handle_ = handle ? handle : "";
    return true;
  });
  if (session->handle_.empty()) {
    failure = {ppFailed, "CreateSession: no session in the answer"};
    return nullptr;
  }
  const char* handle = session->handle_.c_str();
  const auto appendSession = [handle](sd_bus_message* m) {
    return sd_bus_message_append_basic(m, 'o', handle);
  };

  const std::string tokenFile =
      options.tokenFile.empty()
          ? RestoreTokenPath(std::getenv("XDG_STATE_HOME"), std::getenv("HOME"))
          : options.tokenFile;
  std::vector<Option> select = {{"types", 'u', {}, kMonitorSource},
                                {"multiple", 'b', {}, 1},
                                {"cursor_mode", 'u', {}, kCursorMetadata},
                                {"persist_mode", 'u', {}, kPersistUntilRevoked}};
  if (const std::string saved = LoadRestoreToken(tokenFile); !saved.empty())
    select.push_back({"restore_token", 's', saved});
  Bus::Answer selected;
  if (!b.Request("SelectSources", appendSession, select, options.callTimeout, selected, failure))
    return nullptr;

  Bus::Answer started;
  const auto appendSessionAndParent = [handle](sd_bus_message* m) {
    int r2 = sd_bus_message_append_basic(m, 'o', handle);
    if (r2 >= 0) r2 = sd_bus_message_append_basic(m, 's', "");
    return r2;
  };
  if (!b.Request("Start", appendSessionAndParent, {}, options.consentTimeout, started, failure))
    return nullptr;
  std::string newToken;
  ReadDictionary(started.results.get(), [&](const std::string& key, const char* contents) {
    if (key == "streams" && std::strcmp(contents, "a(ua{sv})") == 0)
      return ReadStreams(started.results.get(), session->streams_) >= 0;
    if (key == "restore_token" && std::strcmp(contents, "s") == 0) {
      const char* token = nullptr;
      if (sd_bus_message_read(started.results.get(), "v", "s", &token) < 0) return false;
      newToken = token ? token : "";
      return true;
    }
    return false;
  });
  if (session->streams_.empty()) {
    failure = {ppFailed, "Start: no monitor in the answer"};
    return nullptr;
  }
  // Each token serves once: keep the new one for the next start.
  if (!newToken.empty() && !SaveRestoreToken(tokenFile, newToken))
    std::fprintf(stderr, "ombrix: could not keep the screen-cast permission in %s\n",
                 tokenFile.c_str());
  return session;
}

int PortalSession::OpenPipeWireRemote(TPortalFailure& failure) {
  ErrorOwner error;
  sd_bus_message* raw = nullptr;
  int r = sd_bus_call_method(bus_->bus, kPortal, kPortalPath, kScreenCast, "OpenPipeWireRemote",
                             &error.error, &raw, "oa{sv}", handle_.c_str(), 0);
  Message reply(raw);
  int fd = -1;
  if (r >= 0) r = sd_bus_message_read_basic(reply.get(), 'h', &fd);
  if (r < 0 || fd < 0) {
    failure = {ppFailed, "OpenPipeWireRemote: " + error.Text(r < 0 ? r : -EBADF)};
    return -1;
  }
  // The message owns its descriptor: keep a copy of our own.
  const int own = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  if (own < 0) failure = {ppFailed, std::string("OpenPipeWireRemote: ") + std::strerror(errno)};
  return own;
}

}  // namespace ombrix
