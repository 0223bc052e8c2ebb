// pathlume-devsim: command-line front end of the device simulator.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "devsim.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;

void OnSignal(int) { g_stop = 1; }

const char kUsage[] =
    "Usage: pathlume-devsim [options]\n"
    "Plays one or more print-server network interfaces on UDP.\n"
    "\n"
    "  --listen ADDR[:PORT]   address and port to listen on (default 0.0.0.0:22093)\n"
    "  --devices N            number of generated devices (default 3, at most 4096)\n"
    "  --seed N               seed for generated configurations (default 1)\n"
    "  --config FILE          read devices from FILE ([device] blocks of KEY = value\n"
    "                         lines; 'KEY =' holds an empty value, 'omit KEY...' leaves\n"
    "                         records out of the device, 'refuse KEY...' makes it refuse\n"
    "                         those SetConfig records, 'find-only' makes it answer Find\n"
    "                         and nothing else)\n"
    "  --reply-to MODE        'broadcast' (255.255.255.255, default), 'sender', or an address\n"
    "  --reply-port PORT      port replies are sent to (default 22093)\n"
    "  --delay MS             delay before each reply (default 0)\n"
    "  --jitter MS            random extra delay per reply, 0..MS (default 0)\n"
    "  --loss PERCENT         drop this share of replies at random (default 0)\n"
    "  --duplicate            send every reply twice\n"
    "  --fault KIND           damage replies: no-terminator, truncated, oversize,\n"
    "                         wrong-mac, stray-bytes (default none); or misbehave:\n"
    "                         forged-config (ignore a SetConfig but answer at once with a\n"
    "                         configuration claiming its values), late-duplicate (send\n"
    "                         every configuration reply again --late-ms later),\n"
    "                         splice (each reply cut before its IP record, SERIAL_NUM\n"
    "                         in a Find, then a headerless datagram from\n"
    "                         --splice-from holding another value and the terminator,\n"
    "                         then the whole reply), splice-own (the same with the\n"
    "                         reply's own rest), split-terminator (the terminator's\n"
    "                         last 5 bytes in a datagram of their own)\n"
    "  --splice-from ADDR     the second sender of --fault splice (default 127.0.0.2)\n"
    "                         change-after=MS KEY=VALUE... (another writer: MS ms after\n"
    "                         answering a GetConfig the device's KEYs take these values)\n"
    "  --apply-late MS        a SetConfig's records take effect MS ms after it came\n"
    "  --late-ms MS           delay of the late copy (default 20)\n"
    "  --fault-count N        damage only the first N requests (default 0 = all)\n"
    "  --refuse KEY[,KEY]     refuse these SetConfig records whatever their value\n"
    "  --time-limit SEC       end after SEC seconds (default 0 = run until a signal)\n"
    "  --exclusive            hold the port without sharing it with other programs\n"
    "  --print-port           print the bound port on the first line (for scripts)\n"
    "  --log-bytes            also log every request's bytes in hex\n"
    "  --state-file FILE      keep every device's configuration in FILE (in --config's\n"
    "                         form), written at start and after each request that\n"
    "                         changed it, so that a test can read what the devices hold\n"
    "  --help                 show this text\n"
    "  --version              show the version\n";

bool ParseInt(const char* s, long min, long max, long* out)
{
    // long long: a long is 32 bits on Windows, where strtol would cut a
    // number too large for --seed to the largest seed instead of refusing it.
    char* end = nullptr;
    const long long v = std::strtoll(s, &end, 10);
    if (!s[0] || *end || v < min || v > max)
        return false;
    *out = static_cast<long>(v);
    return true;
}

int Fail(const std::string& msg)
{
    std::cerr << "pathlume-devsim: " << msg << "\n(see --help)\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    devsim::Options opt;
    long devices = 3;
    long timeLimit = 0;
    bool printPort = false;
    std::string configFile;
    std::string stateFile;

    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto next = [&](const char** v) {
            if (i + 1 >= argc)
                return false;
            *v = argv[++i];
            return true;
        };
        const char* v = nullptr;
        long n = 0;
        if (a == "--help" || a == "-h") {
            std::cout << kUsage;
            return 0;
        } else if (a == "--version") {
            std::cout << "pathlume-devsim " << PATHLUME_VERSION << "\n";
            return 0;
        } else if (a == "--listen" && next(&v)) {
            std::string s = v;
            const auto colon = s.find(':');
            opt.listenAddress = s.substr(0, colon);
            if (colon != std::string::npos) {
                if (!ParseInt(s.c_str() + colon + 1, 0, 65535, &n))
                    return Fail("bad port in --listen");
                opt.listenPort = static_cast<uint16_t>(n);
            }
        } else if (a == "--devices" && next(&v)) {
            if (!ParseInt(v, 0, devsim::kMostGeneratedDevices, &devices))
                return Fail("--devices takes 0 to " + std::to_string(devsim::kMostGeneratedDevices));
        } else if (a == "--seed" && next(&v)) {
            if (!ParseInt(v, 0, 0x7FFFFFFF, &n))
                return Fail("bad --seed");
            opt.seed = static_cast<uint32_t>(n);
        } else if (a == "--config" && next(&v)) {
            configFile = v;
        } else if (a == "--reply-to" && next(&v)) {
            const std::string m = v;
            if (m == "sender")
                opt.replyToSender = true;
            else if (m != "broadcast")
                opt.replyAddress = m;
        } else if (a == "--reply-port" && next(&v)) {
            if (!ParseInt(v, 1, 65535, &n))
                return Fail("bad --reply-port");
            opt.replyPort = static_cast<uint16_t>(n);
        } else if (a == "--delay" && next(&v)) {
            if (!ParseInt(v, 0, 60000, &n))
                return Fail("bad --delay");
            opt.delayMs = static_cast<int>(n);
        } else if (a == "--jitter" && next(&v)) {
            if (!ParseInt(v, 0, 60000, &n))
                return Fail("bad --jitter");
            opt.jitterMs = static_cast<int>(n);
        } else if (a == "--loss" && next(&v)) {
            if (!ParseInt(v, 0, 100, &n))
                return Fail("bad --loss");
            opt.lossPercent = static_cast<int>(n);
        } else if (a == "--duplicate") {
            opt.duplicate = true;
        } else if (a == "--fault" && next(&v)) {
            if (devsim::ParseChangeAfter(v, &opt)) {
                // The records another writer sets follow as KEY=VALUE.
                for (; i + 1 < argc && std::string(argv[i + 1]).find('=') != std::string::npos &&
                       std::string(argv[i + 1]).rfind("--", 0) != 0;
                     ++i) {
                    const std::string kv = argv[i + 1];
                    const std::string key = kv.substr(0, kv.find('='));
                    const KeyInfo* k = FindKey(key.c_str());
                    if (!k)
                        return Fail("unknown key " + key + " in --fault change-after");
                    opt.changeRecords.emplace_back(static_cast<int>(k - KeyTable),
                                                   kv.substr(kv.find('=') + 1));
                }
                if (opt.changeRecords.empty())
                    return Fail("--fault change-after=MS takes KEY=VALUE records");
            } else if (!devsim::ParseFault(v, &opt.fault)) {
                return Fail(std::string("unknown fault ") + v);
            }
        } else if (a == "--apply-late" && next(&v)) {
            if (!ParseInt(v, 0, 60000, &n))
                return Fail("bad --apply-late");
            opt.applyLateMs = static_cast<int>(n);
        } else if (a == "--late-ms" && next(&v)) {
            if (!ParseInt(v, 0, 60000, &n))
                return Fail("bad --late-ms");
            opt.lateMs = static_cast<int>(n);
        } else if (a == "--fault-count" && next(&v)) {
            if (!ParseInt(v, 0, 1000000, &n))
                return Fail("bad --fault-count");
            opt.faultCount = static_cast<int>(n);
        } else if (a == "--refuse" && next(&v)) {
            std::stringstream keys(v);
            std::string key;
            while (std::getline(keys, key, ',')) {
                const KeyInfo* k = FindKey(key.c_str());
                if (!k)
                    return Fail("unknown key " + key + " in --refuse");
                opt.refuseKeys.push_back(static_cast<int>(k - KeyTable));
            }
        } else if (a == "--time-limit" && next(&v)) {
            if (!ParseInt(v, 0, 86400, &timeLimit))
                return Fail("bad --time-limit");
        } else if (a == "--splice-from" && next(&v)) {
            opt.spliceAddress = v;
        } else if (a == "--exclusive") {
            opt.exclusive = true;
        } else if (a == "--print-port") {
            printPort = true;
        } else if (a == "--log-bytes") {
            opt.logBytes = true;
        } else if (a == "--state-file" && next(&v)) {
            stateFile = v;
        } else {
            return Fail("unknown or incomplete option " + a);
        }
    }

    std::vector<devsim::Device> devs;
    if (!configFile.empty()) {
        std::ifstream in(configFile);
        if (!in)
            return Fail("cannot read " + configFile);
        std::stringstream ss;
        ss << in.rdbuf();
        std::string err;
        if (!devsim::ParseDeviceText(ss.str(), opt.seed, &devs, &err))
            return Fail(configFile + ": " + err);
    } else {
        devs = devsim::GenerateDevices(static_cast<int>(devices), opt.seed);
    }

    devsim::Simulator sim(opt, devs);
    sim.log = [](const std::string& line) { std::cout << line << std::endl; };
    if (sim.Open() != 0) {
        std::cerr << "pathlume-devsim: " << sim.error() << "\n";
        return 1;
    }
    if (printPort)
        std::cout << "port " << sim.BoundPort() << std::endl;
    std::cout << "pathlume-devsim: " << devs.size() << " device(s) on " << opt.listenAddress
              << ":" << sim.BoundPort() << ", replies to "
              << (opt.replyToSender ? std::string("sender") : opt.replyAddress) << ":"
              << opt.replyPort << ", fault " << devsim::FaultName(opt.fault) << std::endl;
    for (const auto& d : devs)
        std::cout << "  " << d.values[KEY_SERIAL_NUM] << "  " << d.values[KEY_MAC] << "  "
                  << d.values[KEY_DEV] << "  " << d.values[KEY_HOST_NAME] << std::endl;

    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);

    // The state file is replaced whole, so a reader never sees half of it.
    std::string state;
    auto keepState = [&]() {
        if (stateFile.empty() || sim.StateText() == state)
            return true;
        state = sim.StateText();
        const std::string temp = stateFile + ".new";
        std::ofstream(temp, std::ios::binary | std::ios::trunc) << state;
#ifdef _WIN32
        std::remove(stateFile.c_str());   // Windows renames onto no existing file
#endif
        return std::rename(temp.c_str(), stateFile.c_str()) == 0;
    };
    if (!keepState())
        return Fail("cannot write " + stateFile);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(timeLimit);
    while (!g_stop) {
        if (timeLimit > 0 && std::chrono::steady_clock::now() >= end)
            break;
        sim.Poll(50);
        keepState();   // a late change may come without a request
    }
    std::cout << "pathlume-devsim: stopped after " << sim.RequestsHandled() << " request(s)"
              << std::endl;
    return 0;
}
