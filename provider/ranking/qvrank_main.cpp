#include <iostream>
#include <string_view>
#include <vector>

#include "platform/folders/folders.h"
#include "platform/fs/private_files.h"
#include "provider/ranking/file_ranking.h"
#include "provider/ranking/qvrank_cli.h"
#include "service/QvRankingSvc/service_client.h"

int main(int argc, char** argv) {
  qv::platform::RestrictUmask();  // everything this program writes is the user's alone
  std::vector<std::string_view> args(argv + 1, argv + argc);
  qv::Installation installation(qv::platform::DefaultRoot());
  qv::RegisterRankingClasses(installation.context());
  // A visit to a locked file goes to the ranking service, started if it is not running.
  qv::service::ServiceClientOptions service;
  service.root = installation.context().root;
  qv::service::RegisterKivListenerProxy(installation.classes(), std::move(service));
  return qv::RunQvrank(args, installation.context(), std::cout, std::cerr);
}
