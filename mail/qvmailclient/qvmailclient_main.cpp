// qvmailclient: a scripted mail session with the mail add-in loaded. It opens a Maildir store,
// delivers mails into its Inbox if asked, shows the Inbox in an explorer, and plays the steps
// given on the command line (selecting messages for some seconds, opening or saving one in an
// inspector), then quits as the user would. The add-in tracks the store, serves its ranking
// object in the session and reports what is read to the tracer.
#include <unistd.h>

#include <charconv>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "common/hresult.h"
#include "context/context.h"
#include "mail/QvOutlookAddIn/mail_addin_runtime.h"
#include "mail/QvOutlookProxy/outlook_proxy.h"
#include "platform/com/running_objects.h"
#include "platform/desktop/sim_desktop.h"
#include "platform/folders/folders.h"
#include "platform/mail/maildir_store.h"
#include "platform/mail/sim_mail_client.h"
#include "platform/messaging/runtime_folder.h"
#include "platform/messaging/socket_transport.h"

namespace {

using namespace qv;
namespace pm = platform::mail;
namespace fs = std::filesystem;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
// The longest a step may last: a script is a demonstration, not a day at the desk.
constexpr int kMaxStepSeconds = 3600;

void Usage(std::ostream& out) {
  out << "Usage: qvmailclient --maildir DIR [--name NAME] [--deliver FILE]... [--linger SECONDS]\n"
         "                    [STEP]...\n"
         "A scripted mail session with the Quillon Vesper mail add-in loaded. The Maildir store\n"
         "at DIR (made, with its usual folders, when missing) is opened and its Inbox shown;\n"
         "then the steps run in order and the client quits.\n"
         "  --maildir DIR      the store\n"
         "  --name NAME        the store's display name (default \"Personal\")\n"
         "  --deliver FILE     deliver the RFC 5322 mail in FILE into the Inbox first\n"
         "  --linger SECONDS   after the steps, keep serving the ranking object and the mail\n"
         "                     scopes for this long before quitting (for indexing)\n"
         "  --help             show this text\n"
         "Steps (N counts the Inbox's messages from 1, oldest first):\n"
         "  select N SECONDS   select message N in the explorer's reading pane for SECONDS\n"
         "  open N SECONDS     open message N in an inspector for SECONDS, then close it\n"
         "  save N             open message N in an inspector, save it, close it\n"
         "The mail proxy runs inside this process while the session lasts. Exit codes: 0 done,\n"
         "1 the store or a step failed, 2 bad options.\n";
}

struct Step {
  std::string verb;
  std::size_t index = 0;
  int seconds = 0;
};

struct Options {
  fs::path maildir;
  std::string name = "Personal";
  std::vector<fs::path> deliveries;
  int lingerSeconds = 0;
  std::vector<Step> steps;
};

bool ParseNumber(std::string_view text, int max, int& out) {
  const auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && p == text.data() + text.size() && out >= 0 && out <= max;
}

// False with a message on stderr for anything it does not understand.
bool ParseArgs(const std::vector<std::string_view>& args, Options& o, bool& help) {
  auto fail = [](const std::string& what) {
    std::cerr << "qvmailclient: " << what << "; try --help\n";
    return false;
  };
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view a = args[i];
    auto value = [&](std::string_view& v) {
      if (i + 1 >= args.size()) return false;
      v = args[++i];
      return true;
    };
    std::string_view v;
    if (a == "--help" || a == "-h") {
      help = true;
      return true;
    } else if (a == "--maildir") {
      if (!value(v)) return fail("--maildir needs a DIR");
      o.maildir = fs::path(v);
    } else if (a == "--name") {
      if (!value(v) || v.empty()) return fail("--name needs a NAME");
      o.name = std::string(v);
    } else if (a == "--deliver") {
      if (!value(v)) return fail("--deliver needs a FILE");
      o.deliveries.emplace_back(v);
    } else if (a == "--linger") {
      if (!value(v) || !ParseNumber(v, kMaxStepSeconds, o.lingerSeconds)) {
        return fail("--linger needs SECONDS from 0 to " + std::to_string(kMaxStepSeconds));
      }
    } else if (a == "select" || a == "open" || a == "save") {
      Step s{std::string(a)};
      int n = 0;
      if (!value(v) || !ParseNumber(v, 1'000'000, n) || n == 0) {
        return fail(std::string(a) + " needs a message number from 1");
      }
      s.index = static_cast<std::size_t>(n);
      if (a != "save" &&
          (!value(v) || !ParseNumber(v, kMaxStepSeconds, s.seconds))) {
        return fail(std::string(a) + " needs SECONDS from 0 to " + std::to_string(kMaxStepSeconds));
      }
      o.steps.push_back(std::move(s));
    } else {
      return fail("unknown argument '" + std::string(a) + "'");
    }
  }
  if (o.maildir.empty()) return fail("--maildir DIR is required");
  return true;
}

bool ReadFile(const fs::path& p, std::string& out) {
  std::ifstream in(p, std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  out = s.str();
  return static_cast<bool>(in) || in.eof();
}

class Session {
 public:
  Session(Context& ctx, pm::SimMailClient& client, platform::MessageLoop* loop)
      : ctx_(ctx), client_(client), loop_(loop) {}

  // Runs the client's work and the add-in's loop while `seconds` pass.
  void Wait(int seconds) {
    const auto end = ctx_.clock.Monotonic() + std::chrono::seconds(seconds);
    do {
      client_.RunFor(std::chrono::milliseconds(10));
      if (loop_) loop_->Pump();
    } while (ctx_.clock.Monotonic() < end);
  }

 private:
  Context& ctx_;
  pm::SimMailClient& client_;
  platform::MessageLoop* loop_;
};

int Run(Context& ctx, const Options& o) {
  std::unique_ptr<pm::MaildirStore> maildir;
  if (const HRESULT hr = pm::MaildirStore::Open(o.maildir, o.name, ctx.clock, maildir); Failed(hr)) {
    std::cerr << "qvmailclient: cannot open the Maildir at " << o.maildir << " ("
              << FormatHresult(hr) << "); check that it is a folder of yours.\n";
    return kExitFailed;
  }
  if (const HRESULT hr = maildir->CreateDefaultFolders(); Failed(hr)) {
    std::cerr << "qvmailclient: cannot make the store's folders (" << FormatHresult(hr) << ").\n";
    return kExitFailed;
  }
  pm::EntryId inbox;
  if (const HRESULT hr = maildir->DefaultFolder(pm::FolderType::Inbox, inbox); Failed(hr)) {
    std::cerr << "qvmailclient: the store has no Inbox (" << FormatHresult(hr) << ").\n";
    return kExitFailed;
  }
  for (const fs::path& file : o.deliveries) {
    std::string text;
    pm::EntryId id;
    if (!ReadFile(file, text)) {
      std::cerr << "qvmailclient: cannot read " << file << "; nothing was delivered from it.\n";
      return kExitFailed;
    }
    if (const HRESULT hr = maildir->Deliver(inbox, text, id); Failed(hr)) {
      std::cerr << "qvmailclient: " << file << " is not a mail the store takes ("
                << FormatHresult(hr) << "); check that it is an RFC 5322 message.\n";
      return kExitFailed;
    }
  }

  platform::SimDesktop desktop;
  SystemClock clientClock;  // the client keeps real time: the tracer measures the visits
  pm::SimMailClient client(desktop, clientClock);
  pm::MessageStore* store = client.AddStore(std::move(maildir));

  // The session's folders: the running object table, and the window station the tracer is
  // reached through. Without a station the add-in keeps ranking data but reports no visits.
  fs::path rotFolder;
  if (const HRESULT hr = platform::SessionRunningObjectsFolder(rotFolder); Failed(hr)) {
    std::cerr << "qvmailclient: the session's runtime folder cannot be used (" << FormatHresult(hr)
              << "); check that it belongs to you and is not a link.\n";
    return kExitFailed;
  }
  auto table = std::make_shared<platform::RunningObjects>(
      platform::RunningObjectsOptions{rotFolder, ::getuid(), {}});
  mail::OutlookProxy proxy(ctx, table, mail::LogonSessionId());
  mail::addin::ScopeRegistrar scopes{
      [&proxy](std::string_view dir, std::uint32_t* cookie) { return proxy.AddScope(dir, cookie); },
      [&proxy](std::uint32_t cookie) { return proxy.RemoveScope(cookie); }};

  std::unique_ptr<platform::WindowStation> station;
  std::unique_ptr<platform::MessageLoop> loop;
  fs::path runtime;
  if (Succeeded(platform::OpenRuntimeFolder(runtime))) {
    platform::SocketTransportOptions t;
    t.folder = runtime;
    t.eventLog = &ctx.eventLog;
    t.uid = ::getuid();
    std::shared_ptr<platform::SocketTransport> transport;
    if (Succeeded(platform::SocketTransport::Open(std::move(t), ctx.clock, transport))) {
      station = std::make_unique<platform::WindowStation>(std::move(transport), ctx.clock);
      loop = std::make_unique<platform::MessageLoop>(ctx.clock);
    }
  }
  std::optional<mail::addin::VisitHost> visits;
  if (station) {
    visits.emplace(mail::addin::VisitHost{*station, *loop,
                                          mail::addin::BindVisitInterface(ctx.registry),
                                          mail::addin::AddInOptions{runtime, std::nullopt}});
  }
  mail::addin::MailAddInRuntime addin(
      ctx, client, table, [&client](std::function<void()> w) { client.Post(std::move(w)); },
      std::move(scopes), mail::addin::MailAddInOptions{}, std::move(visits));
  if (const HRESULT hr = addin.Start(); Failed(hr)) {
    std::cerr << "qvmailclient: the add-in's ranking object cannot be served (" << FormatHresult(hr)
              << "); is another mail session running?\n";
    return kExitFailed;
  }
  addin.RunWalks();

  Session session(ctx, client, loop.get());
  std::vector<pm::EntryId> messages;
  store->Messages(inbox, messages);
  pm::SimExplorer* explorer = nullptr;
  HRESULT hr = client.OpenExplorer(*store, inbox, &explorer);
  for (const Step& s : o.steps) {
    if (Failed(hr)) break;
    if (s.index > messages.size()) {
      std::cerr << "qvmailclient: there is no message " << s.index << "; the Inbox holds "
                << messages.size() << ".\n";
      hr = E_INVALIDARG;
      break;
    }
    const pm::EntryId& id = messages[s.index - 1];
    if (s.verb == "select") {
      hr = client.Select(*explorer, {id});
      if (Succeeded(hr)) session.Wait(s.seconds);
      if (Succeeded(hr)) hr = client.Select(*explorer, {});
    } else {
      pm::SimInspector* inspector = nullptr;
      hr = client.OpenInspector(id, &inspector);
      if (Succeeded(hr)) session.Wait(s.seconds);
      if (Succeeded(hr) && s.verb == "save") {
        pm::Message item;
        hr = inspector->CurrentItem(item);
        if (Succeeded(hr)) hr = client.SaveInspector(*inspector, std::move(item));
        if (Succeeded(hr)) session.Wait(0);
      }
      if (inspector) client.CloseInspector(*inspector);
    }
    // Ranking data written meanwhile reaches the messages.
    addin.RunWalks();
  }
  if (Succeeded(hr)) session.Wait(o.lingerSeconds);
  const HRESULT quit = client.Quit();
  addin.RunWalks();
  if (Failed(hr) || Failed(quit)) {
    std::cerr << "qvmailclient: the session stopped (" << FormatHresult(Failed(hr) ? hr : quit)
              << ").\n";
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string_view> args(argv + 1, argv + argc);
  Options options;
  bool help = false;
  if (!ParseArgs(args, options, help)) return kExitUsage;
  if (help) {
    Usage(std::cout);
    return kExitOk;
  }
  Installation installation(platform::DefaultRoot());
  return Run(installation.context(), options);
}
