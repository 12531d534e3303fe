// QvUpdate: the rank update utility that the ranking service's jobs run.
#include <iostream>
#include <string_view>
#include <vector>

#include "platform/folders/folders.h"
#include "platform/fs/private_files.h"
#include "provider/ranking/file_ranking.h"
#include "service/QvRankingSvc/service_client.h"
#include "service/QvUpdate/exit_codes.h"
#include "service/QvUpdate/qvupdate.h"

namespace {

constexpr std::string_view kHelp =
    "Usage: QvUpdate \"FILE\" UNITS VISITS START-HI START-LO END-HI END-LO WORKING ACTIVE SCOPE "
    "RETRY [SEARCH-KEY]\n"
    "\n"
    "Carries out one deferred ranking update of FILE. The ranking service runs it when an\n"
    "earlier update met a file that another program held locked; it is not meant to be run\n"
    "by hand. Numbers are 1 to 8 hex digits without prefix; the dates are the high and low\n"
    "halves of their 64-bit bit patterns; RETRY counts the attempts and is at least 1;\n"
    "SEARCH-KEY is the journal entry's GUID. It runs at idle priority and prints nothing.\n"
    "\n";

}  // namespace

int main(int argc, char** argv) {
  qv::platform::RestrictUmask();  // everything this program writes is the user's alone
  qv::update::LowerToIdlePriority();
  const std::vector<std::string_view> args(argv, argv + argc);
  if (args.size() == 2 && (args[1] == "--help" || args[1] == "-h")) {
    std::cout << kHelp << qv::update::kExitCodeHelp;
    return 0;
  }
  qv::Installation installation(qv::platform::DefaultRoot());
  qv::RegisterRankingClasses(installation.context());
  // A file still locked goes back to the ranking service for the next attempt.
  qv::service::ServiceClientOptions service;
  service.root = installation.context().root;
  qv::service::RegisterKivListenerProxy(installation.classes(), std::move(service));
  const qv::HRESULT hr = qv::update::RunUpdate(installation.context(), args);
  if (hr == qv::E_INVALIDARG) {
    std::cerr << "QvUpdate: the arguments do not describe an update; see QvUpdate --help\n";
  }
  return qv::update::ExitCodeFor(hr);
}
