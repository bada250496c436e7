#include "vel_lab.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "cryptoprovider/pcsc/scard_provider.h"
#include "support/lab_script.h"

namespace vellab
{

namespace
{

std::string labDir()
{
    const char* dir = std::getenv("ORMID_LAB_DIR");
    return dir ? dir : "";
}

std::string logPath()
{
    return labDir() + "/vel/" + DEVICE + ".apdu.log";
}

} // namespace

void set(const std::string& assignments)
{
    labscript::run("set", std::string(" ") + DEVICE + " " + assignments);
}

void replug()
{
    labscript::run("replug", std::string(" '") + READER + "'");
}

void insert()
{
    labscript::run("insert", std::string(" '") + READER + "' vel " + DEVICE);
}

bytes currentAtr()
{
    SCardProvider scard;
    const auto status = scard.getStatus(READER);
    return bytes(status.atr.begin(), status.atr.end());
}

void reset()
{
    set("serial=87D61200 lifecycle=working pin=123456 default_pin=1 tries=10 max_tries=10 "
        "info_without_tries=0 mute=0 pull_at= short_at=");
    const bytes atr = currentAtr();
    if (atr.size() != 16 || atr[14] != 0x07) {
        replug();
    }
    clearLog();
}

void clearLog()
{
    std::ofstream(logPath(), std::ios::trunc);
}

std::vector<Exchange> log()
{
    std::vector<Exchange> lines;
    std::ifstream in(logPath());
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        Exchange exchange;
        fields >> exchange.command >> exchange.status;
        lines.push_back(exchange);
    }
    return lines;
}

std::vector<Exchange> logOf(const std::string& ins)
{
    std::vector<Exchange> selected;
    for (const Exchange& exchange : log()) {
        if (exchange.command.substr(2, 2) == ins) {
            selected.push_back(exchange);
        }
    }
    return selected;
}

std::string state(const std::string& key)
{
    std::ifstream in(labDir() + "/vel/" + DEVICE + ".state");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(key + "=", 0) == 0) {
            return line.substr(key.size() + 1);
        }
    }
    return {};
}

} // namespace vellab
