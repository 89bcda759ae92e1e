// One site definition: the connection parameters a session is opened with.
// A plain value; the site list owns its records. Reading and writing "site.dat" live beside it.
#pragma once

#include <string>

namespace tarnwick {

enum LoginType : int { kLoginNormal = 0, kLoginAnonymous = 1, kLoginDouble = 2 };

struct SiteSetting {
    std::string name;
    std::string address;
    int port = 21;
    std::string username = "anonymous";
    std::string password;  // plain text in memory; encoded in the site file
    int logintype = kLoginAnonymous;
    int hosttype = 0;  // 0: automatic detection, the only value offered
    std::string deflocaldir;
    std::string defremotedir;
    int passive = 0;
};

}  // namespace tarnwick
