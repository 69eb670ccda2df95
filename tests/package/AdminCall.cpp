// One call on an admin facet, as any local user could make it:
//   AdminCall PROXY set-property KEY VALUE   (Ice::PropertiesAdmin)
//   AdminCall PROXY shutdown                 (Ice::Process)
// Exit 0 when the call returned, 1 when it failed (the reason on stderr), 2
// for a command line it does not take.
#include <Ice/Ice.h>

#include <iostream>
#include <string>

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  const std::string operation = argv[2];
  try {
    Ice::CommunicatorHolder communicator(argc, argv);
    Ice::ObjectPrx admin = communicator->stringToProxy(argv[1])->ice_invocationTimeout(10000);
    if (operation == "set-property" && argc == 5) {
      Ice::PropertyDict changes;
      changes[argv[3]] = argv[4];
      Ice::PropertiesAdminPrx::uncheckedCast(admin)->setProperties(changes);
    } else if (operation == "shutdown" && argc == 3) {
      Ice::ProcessPrx::uncheckedCast(admin)->shutdown();
    } else {
      return 2;
    }
  } catch (const Ice::Exception& e) {
    std::cerr << e << "\n";
    return 1;
  }
  return 0;
}
