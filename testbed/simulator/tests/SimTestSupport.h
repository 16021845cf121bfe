// Helpers for the simulator's own tests: an in-process simulator shared by a
// test program, a client that talks to it the way the provider does (one
// connection per exchange, the login's cookie kept for the command and the
// logout), and direct command calls against an inventory.
#pragma once

#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Commands.h"
#include "Simulator.h"

namespace httplib {
class Client;
}

namespace marl::sim::test {

using Args = std::vector<std::pair<std::string, std::string>>;

// "?args=%7B%22name%22%3A%20%22value%22%7D": the query form clients build,
// names and values inserted without escaping.
std::string ArgsQuery(const Args& args);

// The simulator of this test program, started on first use on free ports
// with the default scenario; reset before every test by SimulatorCase.
Simulator& SharedInProcessSimulator();

class SimulatorCase : public ::testing::Test {
  protected:
    void SetUp() override;
    Simulator& Sim() { return SharedInProcessSimulator(); }
    ArrayService& Service() { return Sim().Service(); }
};

struct HttpResult {
    int status = 0;  // 0: no response
    std::string body;
    std::string setCookie;
    rapidjson::Document json;  // parsed body, null when not JSON
    std::string Key() const;
    const rapidjson::Value& Data() const;  // the "data" member (an empty object if absent)
};

class ArrayClient {
  public:
    ArrayClient(int port, bool tls);
    ~ArrayClient();

    HttpResult Login(const std::string& user = "admin", const std::string& password = "password");
    HttpResult Execute(const std::string& command, const Args& args = {});
    HttpResult Logout();
    HttpResult Get(const std::string& target);
    const std::string& Cookie() const { return m_cookie; }
    void SetCookie(const std::string& cookie) { m_cookie = cookie; }

  private:
    HttpResult Finish(bool delivered, int status, std::string body, std::string setCookie);

    std::unique_ptr<httplib::Client> m_client;
    std::string m_cookie;  // "sessionid=<id>"
};

// Login, one command and logout on one fresh connection, as the provider does.
HttpResult Exchange(int port, bool tls, const std::string& command, const Args& args = {});

// Runs a command directly against an inventory and parses its data.
struct DirectResult {
    CommandResult result;
    rapidjson::Document data;
};
DirectResult RunCommand(Inventory& inv, const std::string& command, const Args& args = {});
Inventory DefaultInventory();

// Names of the members of an object value, in document order.
std::vector<std::string> MemberNames(const rapidjson::Value& obj);

}  // namespace marl::sim::test
