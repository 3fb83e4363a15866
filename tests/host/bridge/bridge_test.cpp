// tavhost bridge against a real broker: the example stations' tags published with the values
// the stations hold, retained for a late subscriber, change-only and within deadbands; writes
// through /set done, refused with their reason, and read back; the broker restarted, the bridge
// killed, a station switched off and on; TLS with a user and password.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <regex>

#include "host/bridge/mqtt_fixtures.h"

namespace {

using namespace tav::testing;
using Json = nlohmann::json;
using std::chrono::milliseconds;

const std::string kPrefix = "plant";

Json ValueOf(const Message& message) {
  const Json document = Json::parse(message.payload, nullptr, false);
  return document.is_object() && document.contains("value") ? document["value"] : Json();
}
std::string QualityOf(const Message& message) {
  const Json document = Json::parse(message.payload, nullptr, false);
  return document.is_object() ? document.value("quality", "") : "";
}
std::string TimeOf(const Message& message) {
  const Json document = Json::parse(message.payload, nullptr, false);
  return document.is_object() ? document.value("ts", "") : "";
}
std::string ResultOf(const Message& message) {
  const Json document = Json::parse(message.payload, nullptr, false);
  return document.is_object() ? document.value("result", "") : "";
}

// A bridge file over the example stations: every kind of tag at station 1 (S7) and 3 (S5),
// writable ones beside them, the S5 station under a name of its own.
std::string BridgeFile(int port, const std::string& network, const std::string& extra = "") {
  return "[broker]\nhost = \"127.0.0.1\"\nport = " + std::to_string(port) + "\n" + extra +
         "\n[bridge]\nprefix = \"" + kPrefix + "\"\nheartbeat_s = 3600\nstation_file = \"" +
         TAV_EXAMPLES_DIR "/tavSH101.int\"\nnetwork = \"" + network + "\"\n" + R"(
[stations]
"03" = "boiler"

[[group]]
name = "fast"
period_ms = 200
[[group.tag]]
name = "word"
address = "01DW0100000"
[[group.tag]]
name = "dword"
address = "01DD0100002"
[[group.tag]]
name = "float"
address = "01DF0100010"
[[group.tag]]
name = "text"
address = "01SB010002012"
[[group.tag]]
name = "pad"
address = "01SB010002016"
[[group.tag]]
name = "byte40"
address = "01DB0100040"
[[group.tag]]
name = "byte41"
address = "01DB0100041"
[[group.tag]]
name = "input0.7"
address = "01IB000007"
[[group.tag]]
name = "input2"
address = "01IB0002"
[[group.tag]]
name = "setpoint"
address = "01DW0100100"
writable = true
[[group.tag]]
name = "temperature"
address = "01DF0100104"
deadband = 1.0
writable = true
[[group.tag]]
name = "label"
address = "01SB010012010"
writable = true
[[group.tag]]
name = "enable"
address = "01DW010011003"
writable = true

[[group]]
name = "boiler"
period_ms = 300
[[group.tag]]
name = "word"
address = "03DW0100000"
[[group.tag]]
name = "float"
address = "03DF0100010"
[[group.tag]]
name = "dx"
address = "03XW0100001"
)";
}

class Bridge : public ::testing::Test {
 protected:
  // Starts the bridge on `file` (written into the folder) with `args` after it.
  void StartBridge(const std::string& file, std::vector<std::string> args = {}) {
    std::vector<std::string> argv;
    std::istringstream launcher(TAVHOST_LAUNCHER);
    for (std::string part; std::getline(launcher, part, '|');) argv.push_back(part);
    argv.insert(argv.end(), {TAVHOST_PATH, "bridge", folder_.Write("bridge.toml", file)});
    argv.insert(argv.end(), args.begin(), args.end());
    bridge_.emplace(argv, folder_.Path("bridge.log"));
  }
  std::string BridgeLog() const { return ReadText(folder_.Path("bridge.log")); }
  std::string Topic(const std::string& rest) const { return kPrefix + "/" + rest; }
  std::string Network(bool boilerOn = true) const {
    std::string text = ReadText(TAV_EXAMPLES_DIR "/tavSH101.toml");
    if (!boilerOn) {
      text = std::regex_replace(text, std::regex(R"(name = "boiler house")"),
                                "name = \"boiler house\"\nreachable = false");
    }
    return folder_.Write("plant.toml", text);
  }

  TempFolder folder_;
  std::optional<Background> bridge_;
};

TEST_F(Bridge, PublishesEveryKindOfTagWithTheStationsValueRetained) {
  Broker broker(folder_);
  Subscriber live(broker.port(), kPrefix + "/#");
  StartBridge(BridgeFile(broker.port(), Network()), {"--stats-interval", "1", "--json"});
  const struct {
    std::string topic;
    Json value;
  } kRows[] = {
      {"01/word", 0x1234},         {"01/dword", 123456},   {"01/float", 21.5},
      {"01/text", "PRESS LINE 1"}, {"01/byte40", 1},       {"01/byte41", 2},
      {"01/input0.7", true},       {"01/input2", 0x3C},    {"01/setpoint", 0},
      {"boiler/word", 0x1234},     {"boiler/float", 21.5}, {"boiler/dx", 8},
      {"01/pad", "PRESS LINE 1"},
  };
  for (const auto& row : kRows) {
    const std::optional<Message> message = live.Await(Topic(row.topic));
    ASSERT_TRUE(message) << row.topic << "\n" << BridgeLog();
    EXPECT_EQ(ValueOf(*message), row.value) << row.topic;
    EXPECT_EQ(QualityOf(*message), "good") << row.topic;
    EXPECT_TRUE(std::regex_search(message->payload,
                                  std::regex(R"("ts":"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z")")))
        << message->payload;
  }
  EXPECT_TRUE(live.Await(Topic("status"), [](const Message& m) { return m.payload == "online"; }));
  EXPECT_TRUE(live.Await(Topic("boiler/status")));

  // Nothing changes: no tag is published again within the heartbeat.
  std::this_thread::sleep_for(milliseconds(800));
  EXPECT_EQ(live.On(Topic("01/word")).size(), 1U);

  // A late subscriber has every value at once, retained.
  Subscriber late(broker.port(), kPrefix + "/#");
  for (const auto& row : kRows) {
    const std::optional<Message> message = late.Await(Topic(row.topic));
    ASSERT_TRUE(message) << row.topic;
    EXPECT_TRUE(message->retained) << row.topic;
    EXPECT_EQ(ValueOf(*message), row.value) << row.topic;
  }
  EXPECT_EQ(bridge_->Stop(SIGTERM), 0) << BridgeLog();
  EXPECT_TRUE(live.Await(Topic("status"), [](const Message& m) { return m.payload == "offline"; }));
  // Tags of one area and block share a read: the two words of DB 10, its two bytes.
  EXPECT_NE(BridgeLog().find("16 tags in 2 groups (14 reads a round)"), std::string::npos)
      << BridgeLog();
  EXPECT_TRUE(std::regex_search(
      BridgeLog(), std::regex(R"(\{"command":"bridge","statistics":\{"tagsPolled":\d+)")))
      << BridgeLog();
  const std::string log = BridgeLog();
  const Json last = Json::parse(log.substr(log.rfind("{\"command\"")), nullptr, false);
  EXPECT_TRUE(last.value("stopped", false) && last["statistics"]["broker"] == "disconnected");
  EXPECT_GT(last["statistics"].value("delivered", 0), 12) << log;
}

TEST_F(Bridge, WritesThroughSetAreDoneOrRefusedWithTheirReason) {
  Broker broker(folder_);
  Subscriber client(broker.port(), kPrefix + "/#");
  StartBridge(BridgeFile(broker.port(), Network()));
  ASSERT_TRUE(client.Await(Topic("01/temperature"))) << BridgeLog();
  const struct {
    std::string tag;
    std::string payload;
    std::string result;
    Json readBack;  // the value published afterwards; null: none (no such tag)
  } kRows[] = {
      {"01/setpoint", "1234", "ok", 1234},
      {"01/setpoint", R"({"value": 4321})", "ok", 4321},
      {"01/setpoint", "70000", "out of range", 4321},
      {"01/setpoint", "12.5", "out of range", 4321},
      {"01/setpoint", R"("12")", "malformed", 4321},
      {"01/setpoint", "twelve", "malformed", 4321},
      {"01/setpoint", R"({"value": 1, "extra": 2})", "malformed", 4321},
      {"01/label", R"("HELLO")", "ok", "HELLO     "},
      {"01/label", R"("ELEVEN CHARS")", "out of range", "HELLO     "},
      {"01/enable", "true", "ok", true},
      {"01/enable", "0", "ok", false},
      {"01/enable", "2", "out of range", false},
      {"01/temperature", "3.25", "ok", 3.25},
      {"01/temperature", "3.75", "ok", 3.75},  // within the deadband: published all the same
      {"01/word", "1", "not writable", 0x1234},
      {"boiler/word", "1", "not writable", 0x1234},
      {"01/nosuch", "1", "unknown tag", nullptr},
      {"boiler/status", "1", "unknown tag", nullptr},  // a reserved name
      // Bounded before it is parsed: 60 KB of brackets, and a nesting within the size.
      {"01/setpoint", std::string(30'000, '[') + std::string(30'000, ']'), "malformed", 4321},
  };
  for (const auto& row : kRows) {
    const size_t resultsBefore = client.On(Topic(row.tag + "/result")).size();
    client.Publish(Topic(row.tag + "/set"), row.payload);
    ASSERT_TRUE(Eventually([&] {
      return client.On(Topic(row.tag + "/result")).size() > resultsBefore;
    })) << row.tag
        << " " << row.payload << "\n"
        << BridgeLog();
    const Message answer = client.On(Topic(row.tag + "/result")).back();
    EXPECT_EQ(Json::parse(answer.payload).value("result", ""), row.result)
        << row.tag << " " << row.payload << ": " << answer.payload;
    if (row.result != "ok") {
      EXPECT_FALSE(Json::parse(answer.payload).value("reason", "").empty()) << answer.payload;
    }
    EXPECT_LT(answer.payload.size(), 300U) << "the payload is not repeated whole";
    if (row.readBack.is_null()) continue;
    EXPECT_TRUE(client.Await(
        Topic(row.tag), [&](const Message& m) { return ValueOf(m) == row.readBack; },
        milliseconds(3000)))
        << row.tag << " " << row.payload;
    EXPECT_EQ(ValueOf(client.On(Topic(row.tag)).back()), row.readBack) << row.tag;
  }
}

// A retained /set is a past command, not written; the empty message clearing it is no write.
TEST_F(Bridge, ARetainedSetIsNotWrittenAndItsClearingIsNoWrite) {
  Broker broker(folder_);
  Subscriber client(broker.port(), kPrefix + "/#");
  client.Publish(Topic("01/setpoint/set"), "999", true);
  ASSERT_TRUE(client.Await(Topic("01/setpoint/set")));
  StartBridge(BridgeFile(broker.port(), Network()));
  const std::optional<Message> answer = client.Await(Topic("01/setpoint/result"));
  ASSERT_TRUE(answer) << BridgeLog();
  EXPECT_EQ(ResultOf(*answer), "retained") << answer->payload;
  EXPECT_TRUE(client.Await(Topic("01/setpoint"), [](const Message& m) { return ValueOf(m) == 0; }));
  EXPECT_NE(BridgeLog().find("plant/01/setpoint/set: a retained message is not written"),
            std::string::npos)
      << BridgeLog();
  client.Publish(Topic("01/setpoint/set"), "", true);
  client.Publish(Topic("01/setpoint/set"), "");
  client.Publish(Topic("01/setpoint/set"), "7");
  ASSERT_TRUE(client.Await(Topic("01/setpoint"), [](const Message& m) { return ValueOf(m) == 7; }))
      << BridgeLog();
  const std::vector<Message> results = client.On(Topic("01/setpoint/result"));
  ASSERT_EQ(results.size(), 2U);
  EXPECT_EQ(ResultOf(results[1]), "ok") << results[1].payload;
}

TEST_F(Bridge, ABrokerRestartedGetsEveryValueAgain) {
  Broker broker(folder_);
  StartBridge(BridgeFile(broker.port(), Network()));
  {
    Subscriber before(broker.port(), kPrefix + "/#");
    ASSERT_TRUE(before.Await(Topic("boiler/dx"))) << BridgeLog();
  }
  broker.Stop();  // without persistence: the retained values go with it
  std::this_thread::sleep_for(milliseconds(500));
  ASSERT_TRUE(broker.Start());
  Subscriber after(broker.port(), kPrefix + "/#");
  const std::optional<Message> value = after.Await(Topic("boiler/dx"));
  ASSERT_TRUE(value) << BridgeLog();
  EXPECT_EQ(ValueOf(*value), 8);
  EXPECT_TRUE(after.Await(Topic("status"), [](const Message& m) { return m.payload == "online"; }));
  EXPECT_TRUE(after.Await(Topic("boiler/status")));
}

TEST_F(Bridge, KilledItIsOfflineByItsLastWill) {
  Broker broker(folder_);
  Subscriber client(broker.port(), kPrefix + "/status");
  StartBridge(BridgeFile(broker.port(), Network()));
  ASSERT_TRUE(client.Await(Topic("status"), [](const Message& m) { return m.payload == "online"; }))
      << BridgeLog();
  bridge_->Stop(SIGKILL);
  EXPECT_TRUE(
      client.Await(Topic("status"), [](const Message& m) { return m.payload == "offline"; }));
}

TEST_F(Bridge, AStationSwitchedOffTurnsItsTagsBadAndBackToGood) {
  Broker broker(folder_);
  Subscriber client(broker.port(), kPrefix + "/#");
  const std::string network = Network(true);
  StartBridge(BridgeFile(broker.port(), network));
  const auto quality = [&](const std::string& wanted) {
    return [wanted](const Message& m) { return QualityOf(m) == wanted; };
  };
  const auto payload = [](const std::string& wanted) {
    return [wanted](const Message& m) { return m.payload == wanted; };
  };
  ASSERT_TRUE(client.Await(Topic("boiler/word"), quality("good"))) << BridgeLog();
  Network(false);
  EXPECT_TRUE(client.Await(Topic("boiler/status"), payload("offline"))) << BridgeLog();
  const std::optional<Message> bad = client.Await(Topic("boiler/word"), quality("bad"));
  ASSERT_TRUE(bad) << BridgeLog();
  EXPECT_EQ(ValueOf(*bad), 0x1234);  // the last value read, marked bad, with the time it was read
  EXPECT_EQ(TimeOf(*bad), TimeOf(client.On(Topic("boiler/word")).front())) << bad->payload;
  EXPECT_EQ(QualityOf(client.On(Topic("01/word")).back()), "good");
  const size_t results = client.On(Topic("boiler/word/result")).size();
  Network(true);
  EXPECT_TRUE(client.Await(Topic("boiler/status"), payload("online"))) << BridgeLog();
  EXPECT_TRUE(client.Await(Topic("boiler/word"), quality("good")));
  EXPECT_EQ(client.On(Topic("boiler/word/result")).size(), results);
}

TEST_F(Bridge, AStalledBrokerIsShownAsDeliveringNothing) {
  StalledBroker stalled;
  StartBridge(BridgeFile(stalled.port(), Network()), {"--stats-interval", "1", "--json"});
  ASSERT_TRUE(Eventually([this] {
    return BridgeLog().find(R"("publishes":16)") != std::string::npos;
  })) << BridgeLog();
  const std::string log = BridgeLog();
  const Json line = Json::parse(log.substr(log.rfind("{\"command\"")), nullptr, false);
  EXPECT_EQ(line["statistics"].value("delivered", -1), 0) << log;
  EXPECT_GE(line["statistics"].value("awaitingBroker", 0), 16) << log;
}

// TLS with a CA, a certificate for localhost and a key, made here; a user with a password whose
// password the bridge takes from the environment.
TEST_F(Bridge, PublishesOverTlsWithUserAndPassword) {
  const auto run = [this](const std::string& command) {
    return std::system((command + " >>" + folder_.Path("openssl.log") + " 2>&1").c_str());
  };
  const std::string ca = folder_.Path("ca.crt");
  const std::string key = folder_.Path("server.key");
  const std::string cert = folder_.Path("server.crt");
  folder_.Write("san.cnf", "subjectAltName=DNS:localhost,IP:127.0.0.1\n");
  ASSERT_EQ(run("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=bridge-test-ca"
                " -keyout " +
                folder_.Path("ca.key") + " -out " + ca),
            0);
  ASSERT_EQ(run("openssl req -newkey rsa:2048 -nodes -subj /CN=localhost -keyout " + key +
                " -out " + folder_.Path("server.csr")),
            0);
  ASSERT_EQ(run("openssl x509 -req -days 2 -in " + folder_.Path("server.csr") + " -CA " + ca +
                " -CAkey " + folder_.Path("ca.key") + " -CAcreateserial -extfile " +
                folder_.Path("san.cnf") + " -out " + cert),
            0)
      << ReadText(folder_.Path("openssl.log"));
  const std::string passwords = folder_.Write("passwords", "");
  ASSERT_EQ(run("mosquitto_passwd -b " + passwords + " plant-bridge 's3cret pass'"), 0);
  Broker broker(folder_, BrokerSecurity{ca, cert, key, passwords});
  Subscriber client(broker.port(), kPrefix + "/#",
                    ClientSecurity{ca, "plant-bridge", "s3cret pass"});
  ASSERT_TRUE(client.subscribed()) << broker.log();
  setenv("TAV_BRIDGE_TEST_PASSWORD", "s3cret pass", 1);
  // Each change of the broker connection is logged at once, in words: the TLS check's error (the
  // server's own certificate as the CA), the broker's refusal of a password, the connection.
  const std::pair<std::string, std::string> kRefusals[] = {
      {"password = \"wrong\"\n[broker.tls]\nca_file = \"" + cert, "certificate verify failed"},
      {"password = \"wrong\"\n[broker.tls]\nca_file = \"" + ca,
       "Connection Refused: not authorised"}};
  for (const auto& [settings, says] : kRefusals) {
    StartBridge(
        BridgeFile(broker.port(), Network(), "username = \"plant-bridge\"\n" + settings + "\"\n"));
    EXPECT_TRUE(Eventually([&] { return BridgeLog().find(says) != std::string::npos; },
                           std::chrono::seconds(5)))
        << BridgeLog();
  }
  StartBridge(
      BridgeFile(broker.port(), Network(),
                 "username = \"plant-bridge\"\npassword_env = \"TAV_BRIDGE_TEST_PASSWORD\"\n"
                 "[broker.tls]\nca_file = \"" +
                     ca + "\"\n"));
  const std::optional<Message> value = client.Await(Topic("01/float"));
  ASSERT_TRUE(value) << BridgeLog() << broker.log();
  EXPECT_EQ(ValueOf(*value), 21.5);
  EXPECT_EQ(BridgeLog().find("s3cret"), std::string::npos);
  EXPECT_NE(BridgeLog().find(":" + std::to_string(broker.port()) + " connected"),
            std::string::npos);
}

#ifdef TAV_SPARKPLUG_JUDGE
// Beside the JSON tests' tags, one whose data block the boiler lacks: sent null, its quality bad.
const std::string kSparkplug =
    "[[group]]\nname = \"lost\"\nperiod_ms = 300\n[[group.tag]]\nname = \"w\"\naddress = "
    "\"03DW0990000\"\n[sparkplug]\ngroup_id = \"plant\"\n";

// Tahu's codec under node (sparkplug_judge.js): every message on spBv1.0/# decoded into a log.
class Judge {
 public:
  Judge(const TempFolder& folder, int port) : port_(std::to_string(port)), log_(folder.Path("j")) {
    setenv("TAV_JUDGE_MODULES", TAV_SPARKPLUG_JUDGE_MODULES, 1);
    watch_.emplace(std::vector<std::string>{TAV_NODE, TAV_SPARKPLUG_JUDGE, "watch", port_, log_},
                   log_ + ".out");
    Eventually([this] { return ReadText(log_).find("\"ready\"") != std::string::npos; });
  }
  ~Judge() { watch_->Stop(SIGTERM); }  // it ends its mosquitto_sub
  // The payloads of VERB (of DEVICE, for a device's), in order.
  std::vector<Json> Of(const std::string& verb, const std::string& device = "") const {
    std::vector<Json> found;
    std::istringstream lines(ReadText(log_));
    for (std::string line; std::getline(lines, line);) {
      const Json m = Json::parse(line, nullptr, false);
      if (m.is_object() && m["levels"][2] == verb && (device.empty() || m["levels"][4] == device))
        found.push_back(m["payload"]);
    }
    return found;
  }
  // The `count`th payload of VERB (and DEVICE), waited for; null when none came.
  Json Await(const std::string& verb, const std::string& device = "", size_t count = 1) const {
    Eventually([&] { return Of(verb, device).size() >= count; });
    const std::vector<Json> found = Of(verb, device);
    return found.size() >= count ? found[count - 1] : Json();
  }
  // `publish TOPIC 'JSON'` (a command encoded by Tahu) or `check` (the rules over the log): each
  // must succeed, or the test fails with what the judge said.
  void Run(const std::string& command, const std::string& rest = "") const {
    const std::string line = std::string(TAV_NODE) + " " + TAV_SPARKPLUG_JUDGE + " " + command +
                             " " + port_ + " " + log_ + " " + rest + " >" + log_ + ".said 2>&1";
    EXPECT_EQ(std::system(line.c_str()), 0) << line << "\n" << ReadText(log_ + ".said");
  }

 private:
  std::string port_, log_;
  std::optional<Background> watch_;
};

// A metric of a decoded payload by its name, or by its alias.
Json MetricOf(const Json& payload, const Json& key) {
  for (const Json& metric : payload.value("metrics", Json::array())) {
    if (metric.value(key.is_string() ? "name" : "alias", Json()) == key) return metric;
  }
  return Json::object();
}

// The session Tahu's codec decodes: births once the primary host is online and again when it is
// back, with the stations' values and datatypes, DCMD writes done and refused, a rebirth, a
// station off and on, the will after a kill; every rule kept.
TEST_F(Bridge, SparkplugSessionKeepsEveryRuleTahuChecks) {
  Broker broker(folder_);
  Judge judge(folder_, broker.port());
  Subscriber host(broker.port(), "spBv1.0/STATE/#");
  StartBridge(BridgeFile(broker.port(), Network()) + kSparkplug + "primary_host_id = \"scada\"\n");
  ASSERT_TRUE(Eventually([this] { return BridgeLog().find(" connected") != std::string::npos; }));
  std::this_thread::sleep_for(milliseconds(1000));
  EXPECT_TRUE(judge.Of("NBIRTH").empty());
  // Online, offline, online again; then an offline of the past, left out.
  for (const char* state :
       {R"("online": true, "timestamp": 2)", R"("online": false, "timestamp": 3)",
        R"("online": true, "timestamp": 4)", R"("online": false, "timestamp": 1)"}) {
    host.Publish("spBv1.0/STATE/scada", std::string("{") + state + "}", true);
  }
  const Json birth = judge.Await("DBIRTH", "01", 2);
  ASSERT_FALSE(birth.is_null() || judge.Await("DBIRTH", "boiler", 2).is_null()) << BridgeLog();
  EXPECT_EQ(judge.Of("NBIRTH").size(), 2U);
  const struct {
    std::string device, metric, type;
    Json value;
  } kBorn[] = {
      {"01", "fast/word", "UInt16", 0x1234},    {"01", "fast/dword", "UInt32", 123456},
      {"01", "fast/float", "Float", 21.5},      {"01", "fast/text", "String", "PRESS LINE 1"},
      {"01", "fast/input0.7", "Boolean", true}, {"01", "fast/byte40", "UInt8", 1},
      {"boiler", "boiler/dx", "UInt16", 8},     {"boiler", "boiler/float", "Float", 21.5},
      {"boiler", "lost/w", "UInt16", nullptr},
  };
  for (const auto& row : kBorn) {
    const Json metric = MetricOf(judge.Await("DBIRTH", row.device), row.metric);
    EXPECT_EQ(Json({metric.value("type", ""), metric["value"]}), Json({row.type, row.value}));
  }
  // A write is read back and sent in DDATA, or refused (readBack null) with a line that says why.
  const struct {
    std::string metric, type, value;
    Json readBack;
    std::string refusal;
  } kWrites[] = {
      {"fast/setpoint", "UInt16", "1234", 1234, ""},
      {"fast/setpoint", "UInt16", "70000", nullptr, "malformed"},  // beyond a UInt16
      {"fast/temperature", "Float", "3.25", 3.25, ""},
      {"fast/label", "String", "\"HELLO\"", "HELLO     ", ""},
      {"fast/label", "String", "\"ELEVEN CHARS\"", nullptr, "out of range"},
      {"fast/enable", "Boolean", "true", true, ""},
      {"fast/word", "UInt16", "1", nullptr, "not writable"},
      {"fast/nosuch", "UInt16", "1", nullptr, "unknown tag"},
  };
  for (const auto& row : kWrites) {
    const size_t logged = BridgeLog().size();
    const Json alias = MetricOf(birth, row.metric).value("alias", Json());
    judge.Run("publish", "spBv1.0/plant/DCMD/tavsh1-01/01 '{\"metrics\":[{\"name\":\"" +
                             row.metric + "\",\"type\":\"" + row.type +
                             "\",\"value\":" + row.value + "}]}'");
    EXPECT_TRUE(Eventually([&] {
      if (!row.readBack.is_null()) {
        const std::vector<Json> data = judge.Of("DDATA", "01");
        return !data.empty() && MetricOf(data.back(), alias)["value"] == row.readBack;
      }
      return BridgeLog().find("DCMD to 01: " + row.refusal + ": ", logged) != std::string::npos;
    })) << row.metric
        << " " << row.value << "\n"
        << BridgeLog();
  }
  // A rebirth: NBIRTH with the session's bdSeq, and every DBIRTH with what the stations hold.
  judge.Run("publish",
            "spBv1.0/plant/NCMD/tavsh1-01 "
            R"('{"metrics":[{"name":"Node Control/Rebirth","type":"Boolean","value":true}]}')");
  EXPECT_EQ(MetricOf(judge.Await("NBIRTH", "", 3), "bdSeq")["value"], 0) << BridgeLog();
  EXPECT_EQ(MetricOf(judge.Await("DBIRTH", "01", 3), "fast/setpoint")["value"], 1234);
  ASSERT_FALSE(judge.Await("DBIRTH", "boiler", 3).is_null());
  Network(false);
  EXPECT_FALSE(judge.Await("DDEATH", "boiler").is_null()) << BridgeLog();
  Network(true);
  EXPECT_FALSE(judge.Await("DBIRTH", "boiler", 4).is_null()) << BridgeLog();
  // A new MQTT session (the broker restarted, the host online again): its bdSeq is the next.
  broker.Stop();
  ASSERT_TRUE(broker.Start());
  ASSERT_TRUE(Eventually([&] { return broker.log().find("New client") != std::string::npos; }));
  host.Publish("spBv1.0/STATE/scada", R"({"online": true, "timestamp": 5})", true);
  EXPECT_EQ(MetricOf(judge.Await("NBIRTH", "", 4), "bdSeq")["value"], 1) << BridgeLog();
  bridge_->Stop(SIGKILL);
  EXPECT_FALSE(judge.Await("NDEATH").is_null());
  judge.Run("check");
}

#else
TEST_F(Bridge, SparkplugSessionKeepsEveryRuleTahuChecks) {
  GTEST_SKIP() << "skipped: " << TAV_SPARKPLUG_JUDGE_MISSING;
}
#endif

#ifdef TAV_SNAP7_SERVER
// The same bridge over libh1tcp, to Snap7's S7 server: values read, a write done and read back.
TEST_F(Bridge, BridgesAnS7ServerOverTcp) {
  Broker broker(folder_);
  Subscriber client(broker.port(), kPrefix + "/#");
  const int port = FreeLoopbackPort();
  Background server({TAV_SNAP7_SERVER, std::to_string(port), "480", "quiet"},
                    folder_.Path("snap7.log"), true);
  ASSERT_TRUE(Eventually(
      [&] { return ReadText(folder_.Path("snap7.log")).find("started") != std::string::npos; }));
  folder_.Write("tavSH121.int", "1=7,0A0B0C010201,2\n");
  folder_.Write("plant.map", "0A0B0C010201 = 127.0.0.1:" + std::to_string(port) + ", s7\n");
  StartBridge("[broker]\nhost = \"127.0.0.1\"\nport = " + std::to_string(broker.port()) +
              "\n[bridge]\nprefix = \"" + kPrefix +
              "\"\nstation_file = \"tavSH121.int\"\ntcp_map = \"plant.map\"\n" + R"(
[[group]]
name = "s7"
period_ms = 200
[[group.tag]]
name = "counter"
address = "01DW0010000"
writable = true
[[group.tag]]
name = "level"
address = "01DF0010004"
writable = true
)");
  ASSERT_TRUE(client.Await(Topic("01/counter"), [](const Message& m) { return ValueOf(m) == 0; }))
      << BridgeLog();
  client.Publish(Topic("01/counter/set"), "4321");
  client.Publish(Topic("01/level/set"), R"({"value": 2.5})");
  EXPECT_TRUE(client.Await(Topic("01/counter"), [](const Message& m) {
    return ValueOf(m) == 4321;
  })) << BridgeLog();
  EXPECT_TRUE(client.Await(Topic("01/level"), [](const Message& m) { return ValueOf(m) == 2.5; }))
      << BridgeLog();
  EXPECT_EQ(Json::parse(client.On(Topic("01/counter/result")).back().payload)["result"], "ok");
}
#else
TEST_F(Bridge, BridgesAnS7ServerOverTcp) {
  GTEST_SKIP() << "skipped: " << TAV_SNAP7_MISSING;
}
#endif

}  // namespace
