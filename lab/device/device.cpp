#include "device/device.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>

namespace labdev
{
namespace fs = std::filesystem;

namespace
{
constexpr const char* FACTS_FILE = "device.conf";
constexpr const char* OBJECTS_FILE = "objects.txt";
constexpr const char* LOCK_FILE = ".lock";

std::string trim(std::string_view s)
{
    auto b = s.find_first_not_of(" \t\r");
    if (b == std::string_view::npos)
        return {};
    auto e = s.find_last_not_of(" \t\r");
    return std::string(s.substr(b, e - b + 1));
}

bool isSerialChar(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-' || c == '_';
}

void checkSerial(std::string_view serial)
{
    if (serial.empty() || serial.size() > 16 || !std::all_of(serial.begin(), serial.end(), isSerialChar))
        throw std::invalid_argument("serial must be 1 to 16 characters of [0-9A-Za-z_-]: '" +
                                    std::string(serial) + "'");
}

std::uint64_t parseU64(std::string_view text, int base)
{
    std::string s(text);
    if (s.empty())
        throw std::invalid_argument("empty number");
    errno = 0;
    char* end = nullptr;
    unsigned long long v = std::strtoull(s.c_str(), &end, base);
    if (errno != 0 || end == s.c_str() || *end != '\0' || s[0] == '-')
        throw std::invalid_argument("not a number: '" + s + "'");
    return v;
}

std::vector<std::string_view> lines(std::string_view text)
{
    std::vector<std::string_view> out;
    while (!text.empty()) {
        auto nl = text.find('\n');
        out.push_back(text.substr(0, nl));
        if (nl == std::string_view::npos)
            break;
        text.remove_prefix(nl + 1);
    }
    return out;
}
} // namespace

const std::vector<ModelInfo>& models()
{
    static const std::vector<ModelInfo> list = {
        {"rutoken-ecp", "rutoken", "Rutoken ECP", 50},
        {"rutoken-ecp-2", "rutoken", "Rutoken ECP 2.0", 52},
        {"rutoken-ecp-2100", "rutoken", "Rutoken ECP 2100", 54},
        {"rutoken-ecp-3000", "rutoken", "Rutoken ECP 3000", 59},
        {"rutoken-ecp-3", "rutoken", "Rutoken ECP 3.0", 60},
        {"rutoken-ecp-3220", "rutoken", "Rutoken ECP 3220", 65},
        {"angara", "angara", "MS_KEY K", 0},
        {"jacarta-gost2", "jacarta", "JaCarta GOST 2.0", 0},
    };
    return list;
}

const ModelInfo* findModel(std::string_view name)
{
    for (const auto& m : models())
        if (m.name == name)
            return &m;
    return nullptr;
}

Bytes TokenObject::get(std::uint64_t type) const
{
    auto it = attributes.find(type);
    return it == attributes.end() ? Bytes{} : it->second;
}

std::string Device::get(const std::string& key, const std::string& fallback) const
{
    auto it = facts.find(key);
    return it == facts.end() ? fallback : it->second;
}

long long Device::getInt(const std::string& key, long long fallback) const
{
    auto it = facts.find(key);
    if (it == facts.end() || it->second.empty())
        return fallback;
    try {
        std::size_t pos = 0;
        long long v = std::stoll(it->second, &pos, 0);
        if (pos != it->second.size())
            throw std::invalid_argument("trailing text");
        return v;
    } catch (const std::exception&) {
        throw std::runtime_error("device fact " + key + " is not a number: '" + it->second + "'");
    }
}

void Device::set(const std::string& key, const std::string& value)
{
    checkFact(key, value);
    facts[key] = value;
}

TokenObject* Device::findObject(std::uint64_t handle)
{
    for (auto& o : objects)
        if (o.handle == handle)
            return &o;
    return nullptr;
}

std::uint64_t Device::addObject(std::map<std::uint64_t, Bytes> attributes)
{
    TokenObject o;
    o.handle = nextHandle++;
    o.attributes = std::move(attributes);
    objects.push_back(std::move(o));
    return objects.back().handle;
}

bool Device::removeObject(std::uint64_t handle)
{
    auto it = std::find_if(objects.begin(), objects.end(),
                           [&](const TokenObject& o) { return o.handle == handle; });
    if (it == objects.end())
        return false;
    objects.erase(it);
    return true;
}

void checkFact(std::string_view key, std::string_view value)
{
    if (key.empty() || !std::all_of(key.begin(), key.end(), [](char c) {
            return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.';
        }))
        throw std::invalid_argument("fact names are [a-z0-9._-]+: '" + std::string(key) + "'");
    if (value.find('\n') != std::string_view::npos || value.find('\r') != std::string_view::npos)
        throw std::invalid_argument("fact values are one line: " + std::string(key));
    if (key == fact::SERIAL)
        checkSerial(value);
    if (key == fact::PUBLIC_KEY_ORDER && value != "little" && value != "big")
        throw std::invalid_argument("public-key-order is little or big");
    if (key == fact::MODEL && !findModel(value))
        throw std::invalid_argument("unknown model '" + std::string(value) + "'");
}

Device makeDevice(std::string_view model, std::string_view serial, std::string_view reader)
{
    const ModelInfo* info = findModel(model);
    if (!info)
        throw std::invalid_argument("unknown model '" + std::string(model) + "'");
    Device d;
    d.set(fact::MODEL, std::string(model));
    d.set(fact::SERIAL, std::string(serial));
    d.set(fact::READER, std::string(reader));
    d.set(fact::LABEL, std::string(info->tokenModel));
    d.set(fact::PRESENT, "1");
    d.set(fact::USER_PIN, "12345678");
    d.set(fact::SO_PIN, "87654321");
    d.setInt(fact::USER_TRIES_MAX, 10);
    d.setInt(fact::USER_TRIES_LEFT, 10);
    d.setInt(fact::SO_TRIES_MAX, 10);
    d.setInt(fact::SO_TRIES_LEFT, 10);
    d.setInt(fact::USER_PIN_INITIALIZED, 1);
    d.setInt(fact::USER_PIN_DEFAULT, 1);
    d.setInt(fact::MIN_PIN_LEN, 4);
    d.setInt(fact::MAX_PIN_LEN, 32);
    d.setInt(fact::MAX_OBJECTS, 0);
    return d;
}

std::string formatFacts(const Device& device)
{
    std::string out = "# lab device facts\n";
    for (const auto& [k, v] : device.facts)
        out += k + "=" + v + "\n";
    return out;
}

void parseFacts(std::string_view text, Device& device)
{
    device.facts.clear();
    for (auto line : lines(text)) {
        std::string l = trim(line);
        if (l.empty() || l[0] == '#')
            continue;
        auto eq = l.find('=');
        if (eq == std::string::npos)
            throw std::runtime_error("device.conf: line without '=': " + l);
        std::string key = trim(std::string_view(l).substr(0, eq));
        std::string value = trim(std::string_view(l).substr(eq + 1));
        checkFact(key, value);
        device.facts[key] = value;
    }
}

std::string formatObjects(const Device& device)
{
    std::ostringstream out;
    out << "next-handle " << device.nextHandle << "\n";
    for (const auto& o : device.objects) {
        out << "object " << o.handle << "\n";
        for (const auto& [type, value] : o.attributes)
            out << "attr " << std::hex << type << std::dec << " " << (value.empty() ? "-" : toHex(value))
                << "\n";
    }
    return out.str();
}

void parseObjects(std::string_view text, Device& device)
{
    device.objects.clear();
    device.nextHandle = 1;
    std::set<std::uint64_t> seen;
    for (auto line : lines(text)) {
        std::string l = trim(line);
        if (l.empty() || l[0] == '#')
            continue;
        std::istringstream in(l);
        std::string word, a, b;
        in >> word >> a >> b;
        if (word == "next-handle") {
            device.nextHandle = parseU64(a, 10);
        } else if (word == "object") {
            TokenObject o;
            o.handle = parseU64(a, 10);
            if (o.handle == 0 || !seen.insert(o.handle).second)
                throw std::runtime_error("objects.txt: bad or repeated handle " + a);
            device.objects.push_back(std::move(o));
        } else if (word == "attr") {
            if (device.objects.empty())
                throw std::runtime_error("objects.txt: attribute before any object");
            device.objects.back().attributes[parseU64(a, 16)] = b == "-" ? Bytes{} : fromHex(b);
        } else {
            throw std::runtime_error("objects.txt: unknown line: " + l);
        }
    }
    for (const auto& o : device.objects)
        device.nextHandle = std::max(device.nextHandle, o.handle + 1);
}

FileLock::FileLock(const fs::path& file, bool exclusive)
{
    m_fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (m_fd < 0)
        throw std::runtime_error("cannot open lock file " + file.string() + ": " + std::strerror(errno));
    int rc;
    do {
        rc = ::flock(m_fd, exclusive ? LOCK_EX : LOCK_SH);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        int e = errno;
        ::close(m_fd);
        throw std::runtime_error("cannot lock " + file.string() + ": " + std::strerror(e));
    }
}

FileLock::~FileLock()
{
    if (m_fd >= 0) {
        ::flock(m_fd, LOCK_UN);
        ::close(m_fd);
    }
}

void writeFileAtomically(const fs::path& file, std::string_view content)
{
    fs::path tmp = file;
    tmp += ".tmp." + std::to_string(::getpid());
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        if (!out)
            throw std::runtime_error("cannot write " + tmp.string());
        out.write(content.data(), static_cast<std::streamsize>(content.size()));
        out.flush();
        if (!out)
            throw std::runtime_error("cannot write " + tmp.string());
    }
    std::error_code ec;
    fs::rename(tmp, file, ec);
    if (ec) {
        fs::remove(tmp);
        throw std::runtime_error("cannot replace " + file.string() + ": " + ec.message());
    }
}

std::string readTextFile(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + file.string());
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string toHex(const Bytes& data)
{
    static const char* digits = "0123456789abcdef";
    std::string out;
    out.reserve(data.size() * 2);
    for (auto b : data) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

Bytes fromHex(std::string_view hex)
{
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    if (hex.size() % 2)
        throw std::invalid_argument("hex text of odd length");
    Bytes out;
    out.reserve(hex.size() / 2);
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        int h = nibble(hex[i]), l = nibble(hex[i + 1]);
        if (h < 0 || l < 0)
            throw std::invalid_argument("not hex text");
        out.push_back(static_cast<std::uint8_t>(h << 4 | l));
    }
    return out;
}

DeviceDirectory::DeviceDirectory(fs::path stateDir) : m_dir(std::move(stateDir)) {}

DeviceDirectory DeviceDirectory::fromEnvironment()
{
    const char* dir = std::getenv(STATE_DIR_ENV);
    if (!dir || !*dir)
        throw std::runtime_error(std::string(STATE_DIR_ENV) + " is not set");
    return DeviceDirectory(dir);
}

fs::path DeviceDirectory::deviceDir(std::string_view serial) const
{
    checkSerial(serial);
    return m_dir / "devices" / std::string(serial);
}

std::vector<std::string> DeviceDirectory::serials() const
{
    std::vector<std::string> out;
    std::error_code ec;
    for (fs::directory_iterator it(m_dir / "devices", ec), end; !ec && it != end; it.increment(ec))
        if (fs::exists(it->path() / FACTS_FILE))
            out.push_back(it->path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

bool DeviceDirectory::exists(std::string_view serial) const
{
    return fs::exists(deviceDir(serial) / FACTS_FILE);
}

void DeviceDirectory::add(Device device)
{
    const std::string serial = device.serial();
    const ModelInfo* info = findModel(device.model());
    if (!info)
        throw std::invalid_argument("unknown model '" + device.model() + "'");
    fs::path dir = deviceDir(serial);
    fs::create_directories(m_dir / "devices");
    // The directory-wide lock orders concurrent additions (slot numbers).
    FileLock all(m_dir / "devices" / LOCK_FILE, true);
    if (fs::exists(dir / FACTS_FILE))
        throw std::runtime_error("device " + serial + " exists already");
    if (device.get(fact::SLOT).empty()) {
        std::set<long long> used;
        for (const auto& other : serials()) {
            Device d = load(other);
            const ModelInfo* m = findModel(d.model());
            if (m && m->family == info->family)
                used.insert(d.getInt(fact::SLOT, -1));
        }
        long long slot = 0;
        while (used.count(slot))
            ++slot;
        device.setInt(fact::SLOT, slot);
    }
    fs::create_directories(dir);
    FileLock lock(dir / LOCK_FILE, true);
    writeFileAtomically(dir / OBJECTS_FILE, formatObjects(device));
    writeFileAtomically(dir / FACTS_FILE, formatFacts(device));
}

void DeviceDirectory::remove(std::string_view serial)
{
    fs::path dir = deviceDir(serial);
    if (!fs::exists(dir / FACTS_FILE))
        throw std::runtime_error("no device " + std::string(serial));
    {
        FileLock lock(dir / LOCK_FILE, true);
        fs::remove(dir / FACTS_FILE);
    }
    fs::remove_all(dir);
}

Device DeviceDirectory::load(std::string_view serial) const
{
    fs::path dir = deviceDir(serial);
    if (!fs::exists(dir / FACTS_FILE))
        throw std::runtime_error("no device " + std::string(serial));
    FileLock lock(dir / LOCK_FILE, false);
    Device d;
    parseFacts(readTextFile(dir / FACTS_FILE), d);
    if (fs::exists(dir / OBJECTS_FILE))
        parseObjects(readTextFile(dir / OBJECTS_FILE), d);
    return d;
}

void DeviceDirectory::update(std::string_view serial, const std::function<void(Device&)>& change)
{
    fs::path dir = deviceDir(serial);
    if (!fs::exists(dir / FACTS_FILE))
        throw std::runtime_error("no device " + std::string(serial));
    FileLock lock(dir / LOCK_FILE, true);
    if (!fs::exists(dir / FACTS_FILE))
        throw std::runtime_error("no device " + std::string(serial));
    Device d;
    parseFacts(readTextFile(dir / FACTS_FILE), d);
    if (fs::exists(dir / OBJECTS_FILE))
        parseObjects(readTextFile(dir / OBJECTS_FILE), d);
    const std::string before = formatObjects(d);
    change(d);
    if (d.serial() != std::string(serial))
        throw std::invalid_argument("the serial of a device cannot change");
    const std::string after = formatObjects(d);
    if (after != before)
        writeFileAtomically(dir / OBJECTS_FILE, after);
    writeFileAtomically(dir / FACTS_FILE, formatFacts(d));
}

} // namespace labdev
