// lab-device: creates, changes, lists and removes the simulated devices of
// the lab state directory.
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "device/device.h"
#include "device/latency.h"

namespace
{

int usage()
{
    std::cerr << "usage:\n"
                 "  lab-device add DIR --model MODEL --serial SERIAL --reader NAME [key=value...]\n"
                 "  lab-device set DIR SERIAL key=value...\n"
                 "  lab-device get DIR SERIAL [key]\n"
                 "  lab-device remove DIR SERIAL\n"
                 "  lab-device list DIR\n"
                 "  lab-device objects DIR SERIAL\n"
                 "  lab-device faults DIR [RULE...]   (replaces the fault rules; none clears them)\n"
                 "  lab-device latency DIR [SPEC...|--file PROFILE|off]   (no argument: the model in force)\n"
                 "  lab-device models\n";
    return 2;
}

std::pair<std::string, std::string> splitAssignment(const std::string& arg)
{
    auto eq = arg.find('=');
    if (eq == std::string::npos || eq == 0)
        throw std::invalid_argument("expected key=value, got '" + arg + "'");
    return {arg.substr(0, eq), arg.substr(eq + 1)};
}

int run(const std::vector<std::string>& args)
{
    if (args.empty())
        return usage();
    const std::string& cmd = args[0];
    if (cmd == "models") {
        for (const auto& m : labdev::models())
            std::cout << m.name << "\t" << m.family << "\t" << m.tokenModel << "\n";
        return 0;
    }
    if (args.size() < 2)
        return usage();
    labdev::DeviceDirectory dir(args[1]);
    if (cmd == "faults") {
        std::string rules;
        for (std::size_t i = 2; i < args.size(); ++i) {
            std::istringstream words(args[i]);
            std::string function, kind, n, rv;
            words >> function >> kind >> n >> rv;
            if (function.empty() || (kind != "nth" && kind != "from") || rv.empty() ||
                n.find_first_not_of("0123456789") != std::string::npos || n.empty())
                throw std::invalid_argument(
                    "a rule is '<function|*> nth|from <N> <rv> [module=<family>]': '" + args[i] + "'");
            rules += args[i] + "\n";
        }
        std::filesystem::create_directories(args[1]);
        // The modules update the rules' counters under the same lock.
        labdev::FileLock lock(std::filesystem::path(args[1]) / ".faults.lock", true);
        labdev::writeFileAtomically(std::filesystem::path(args[1]) / "faults", rules);
        return 0;
    }
    if (cmd == "latency") {
        const std::filesystem::path folder(args[1]);
        if (args.size() == 2) {
            const auto latency = labdev::readLatency(folder);
            std::cout << (latency ? labdev::formatLatency(*latency) : std::string("off\n"));
            return 0;
        }
        std::string modelText;
        if (args[2] == "--file") {
            if (args.size() != 4)
                return usage();
            std::ifstream in(args[3]);
            if (!in)
                throw std::invalid_argument("cannot read the profile " + args[3]);
            std::ostringstream text;
            text << in.rdbuf();
            modelText = text.str();
        } else if (args[2] != "off") {
            for (std::size_t i = 2; i < args.size(); ++i)
                modelText += args[i] + "\n";
        } else if (args.size() != 3) {
            return usage();
        }
        std::filesystem::create_directories(folder);
        labdev::writeLatency(folder, labdev::parseLatency(modelText));
        return 0;
    }
    if (cmd == "add") {
        std::string model, serial, reader;
        std::vector<std::pair<std::string, std::string>> extra;
        for (std::size_t i = 2; i < args.size(); ++i) {
            auto option = [&](const char* name, std::string& out) {
                if (args[i] != name)
                    return false;
                if (i + 1 >= args.size())
                    throw std::invalid_argument(std::string(name) + " needs a value");
                out = args[++i];
                return true;
            };
            if (option("--model", model) || option("--serial", serial) || option("--reader", reader))
                continue;
            extra.push_back(splitAssignment(args[i]));
        }
        if (model.empty() || serial.empty())
            return usage();
        labdev::Device d = labdev::makeDevice(model, serial, reader);
        for (const auto& [k, v] : extra)
            d.set(k, v);
        dir.add(d);
        return 0;
    }
    if (cmd == "list") {
        for (const auto& serial : dir.serials()) {
            labdev::Device d = dir.load(serial);
            std::cout << serial << "\t" << d.model() << "\t" << d.get(labdev::fact::SLOT) << "\t"
                      << d.get(labdev::fact::READER) << "\n";
        }
        return 0;
    }
    if (args.size() < 3)
        return usage();
    const std::string& serial = args[2];
    if (cmd == "set") {
        if (args.size() < 4)
            return usage();
        std::vector<std::pair<std::string, std::string>> changes;
        for (std::size_t i = 3; i < args.size(); ++i) {
            changes.push_back(splitAssignment(args[i]));
            labdev::checkFact(changes.back().first, changes.back().second);
            if (changes.back().first == labdev::fact::SERIAL)
                throw std::invalid_argument("the serial of a device cannot change");
        }
        dir.update(serial, [&](labdev::Device& d) {
            for (const auto& [k, v] : changes)
                d.set(k, v);
        });
        return 0;
    }
    if (cmd == "get") {
        labdev::Device d = dir.load(serial);
        if (args.size() > 3) {
            auto it = d.facts.find(args[3]);
            if (it == d.facts.end()) {
                std::cerr << "lab-device: no fact " << args[3] << "\n";
                return 1;
            }
            std::cout << it->second << "\n";
        } else {
            for (const auto& [k, v] : d.facts)
                std::cout << k << "=" << v << "\n";
        }
        return 0;
    }
    if (cmd == "remove") {
        dir.remove(serial);
        return 0;
    }
    if (cmd == "objects") {
        labdev::Device d = dir.load(serial);
        std::cout << labdev::formatObjects(d);
        return 0;
    }
    return usage();
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    try {
        return run(args);
    } catch (const std::exception& e) {
        std::cerr << "lab-device: " << e.what() << "\n";
        return 1;
    }
}
