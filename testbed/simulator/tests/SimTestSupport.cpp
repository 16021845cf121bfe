#include "SimTestSupport.h"

#include <httplib.h>

namespace marl::sim::test {

std::string ArgsQuery(const Args& args) {
    if (args.empty()) return "";
    std::string query = "?args=%7B%22";
    for (size_t i = 0; i < args.size(); ++i) {
        query += args[i].first + "%22%3A%20%22" + args[i].second;
        query += i + 1 < args.size() ? "%22%2C%22" : "%22%7D";
    }
    return query;
}

namespace {

Simulator* g_shared = nullptr;

// Stops the shared simulator's threads after the last test, before the
// program's static objects go away under them.
class StopSharedSimulator : public ::testing::Environment {
  public:
    void TearDown() override {
        if (g_shared) g_shared->Stop();
    }
};

const ::testing::Environment* const kStopRegistered =
    ::testing::AddGlobalTestEnvironment(new StopSharedSimulator);

}  // namespace

Simulator& SharedInProcessSimulator() {
    if (!g_shared) {
        g_shared = new Simulator;  // lives as long as the test program
        std::string error;
        if (!g_shared->Start(SimulatorOptions{}, error)) {
            ADD_FAILURE() << "simulator did not start: " << error;
        }
    }
    return *g_shared;
}

void SimulatorCase::SetUp() {
    ASSERT_GT(Sim().Ports().control, 0);
    Service().Reset();
    Sim().Certificates().SetMode(TlsMode::Valid);
}

std::string HttpResult::Key() const {
    if (!json.IsObject() || !json.HasMember("key") || !json["key"].IsString()) return "";
    return json["key"].GetString();
}

const rapidjson::Value& HttpResult::Data() const {
    static const rapidjson::Value kEmpty(rapidjson::kObjectType);
    if (!json.IsObject() || !json.HasMember("data")) return kEmpty;
    return json["data"];
}

ArrayClient::ArrayClient(int port, bool tls)
    : m_client(std::make_unique<httplib::Client>(
          (tls ? "https://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(port))) {
    m_client->set_keep_alive(true);
    m_client->enable_server_certificate_verification(false);
    m_client->set_connection_timeout(10);
    m_client->set_read_timeout(70);
}

ArrayClient::~ArrayClient() = default;

HttpResult ArrayClient::Finish(bool delivered, int status, std::string body,
                               std::string setCookie) {
    HttpResult r;
    if (!delivered) return r;
    r.status = status;
    r.body = std::move(body);
    r.setCookie = std::move(setCookie);
    r.json.Parse(r.body.c_str());
    if (r.json.HasParseError()) r.json.SetNull();
    if (!r.setCookie.empty()) m_cookie = r.setCookie.substr(0, r.setCookie.find(';'));
    return r;
}

HttpResult ArrayClient::Login(const std::string& user, const std::string& password) {
    auto res =
        m_client->Post("/main/services/login/", "user_name=" + user + "&password=" + password,
                       "application/x-www-form-urlencoded");
    if (!res) return Finish(false, 0, "", "");
    return Finish(true, res->status, res->body, res->get_header_value("Set-Cookie"));
}

HttpResult ArrayClient::Get(const std::string& target) {
    httplib::Headers headers;
    if (!m_cookie.empty()) headers.emplace("Cookie", m_cookie);
    auto res = m_client->Get(target, headers);
    if (!res) return Finish(false, 0, "", "");
    return Finish(true, res->status, res->body, res->get_header_value("Set-Cookie"));
}

HttpResult ArrayClient::Execute(const std::string& command, const Args& args) {
    return Get("/main/services/execute/" + command + "/" + ArgsQuery(args));
}

HttpResult ArrayClient::Logout() { return Get("/logout/"); }

HttpResult Exchange(int port, bool tls, const std::string& command, const Args& args) {
    ArrayClient client(port, tls);
    HttpResult login = client.Login();
    if (login.status != 200) return login;
    HttpResult reply = client.Execute(command, args);
    client.Logout();
    return reply;
}

Inventory DefaultInventory() {
    Inventory inv;
    std::string error;
    EXPECT_TRUE(LoadScenario(DefaultScenarioText(), inv, error)) << error;
    return inv;
}

DirectResult RunCommand(Inventory& inv, const std::string& command, const Args& args) {
    StringPairs pairs;
    for (const auto& a : args) pairs.Add(a.first, a.second);
    DirectResult r;
    CommandFn fn = ArrayCommands().Find(command);
    EXPECT_NE(fn, nullptr) << command;
    if (!fn) return r;
    r.result = fn(inv, pairs);
    r.data.Parse(r.result.data.c_str());
    EXPECT_FALSE(r.data.HasParseError()) << r.result.data;
    return r;
}

std::vector<std::string> MemberNames(const rapidjson::Value& obj) {
    std::vector<std::string> names;
    if (!obj.IsObject()) return names;
    for (auto it = obj.MemberBegin(); it != obj.MemberEnd(); ++it)
        names.push_back(it->name.GetString());
    return names;
}

}  // namespace marl::sim::test
