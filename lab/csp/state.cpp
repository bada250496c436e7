#include "state.h"

#include <algorithm>
#include <cstdlib>
#include <random>
#include <sstream>

#include "device/device.h"

namespace labcsp
{
namespace fs = std::filesystem;

namespace
{
constexpr const char* SETTINGS_FILE = "settings";
constexpr const char* CONTAINER_FILE = "container.conf";

std::string upper(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return s;
}

std::vector<std::string> splitList(const std::string& text)
{
    std::vector<std::string> out;
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ','))
        if (!item.empty())
            out.push_back(item);
    return out;
}

std::string joinList(const std::vector<std::string>& items)
{
    std::string out;
    for (const auto& item : items)
        out += (out.empty() ? "" : ",") + item;
    return out;
}

// "key=value" lines; blank lines and '#' comments skipped.
std::vector<std::pair<std::string, std::string>> parseLines(const std::string& text)
{
    std::vector<std::pair<std::string, std::string>> out;
    std::stringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        auto eq = line.find('=');
        if (eq == std::string::npos)
            fail(NTE_FAIL);
        out.emplace_back(line.substr(0, eq), line.substr(eq + 1));
    }
    return out;
}

unsigned long number(const std::string& text, unsigned long max)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        fail(NTE_FAIL);
    unsigned long v = std::strtoul(text.c_str(), nullptr, 10);
    if (v > max)
        fail(NTE_FAIL);
    return v;
}

std::string readOptional(const fs::path& file)
{
    std::error_code ec;
    if (!fs::exists(file, ec))
        return {};
    return labdev::readTextFile(file);
}

std::mt19937_64& random()
{
    static std::mt19937_64 engine{std::random_device{}()};
    return engine;
}

std::string randomHex(std::size_t digits, bool upperCase)
{
    static const char* lower = "0123456789abcdef";
    static const char* up = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = 0; i < digits; ++i)
        out += (upperCase ? up : lower)[random()() & 0xF];
    return out;
}

fs::path containersDir()
{
    return requireStateDir() / "containers";
}

fs::path storeFile(const std::string& name)
{
    return requireStateDir() / "stores" / name;
}
} // namespace

fs::path stateDir()
{
    const char* dir = std::getenv("ORMID_LAB_DIR");
    return dir && *dir ? fs::path(dir) / "csp" : fs::path();
}

fs::path requireStateDir()
{
    fs::path dir = stateDir();
    if (dir.empty())
        fail(NTE_PROVIDER_DLL_FAIL);
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec)
        fail(NTE_PROVIDER_DLL_FAIL);
    return dir;
}

std::string Settings::reader(const std::string& name) const
{
    for (const auto& r : readers)
        if (upper(r) == upper(name))
            return r;
    return {};
}

bool Settings::isConnected(const std::string& r) const
{
    return std::any_of(connected.begin(), connected.end(),
                       [&](const std::string& c) { return upper(c) == upper(r); });
}

bool Settings::servesType(DWORD type) const
{
    return std::find(providerTypes.begin(), providerTypes.end(), type) != providerTypes.end();
}

Settings loadSettings()
{
    Settings s;
    fs::path dir = stateDir();
    if (dir.empty())
        return s;
    for (const auto& [key, value] : parseLines(readOptional(dir / SETTINGS_FILE))) {
        if (key == "readers") {
            s.readers = splitList(value);
        } else if (key == "connected") {
            s.connected = splitList(value);
        } else if (key == "vendor") {
            s.vendor = value;
        } else if (key == "version") {
            auto dot = value.find('.');
            if (dot == std::string::npos)
                fail(NTE_FAIL);
            s.major = number(value.substr(0, dot), 255);
            s.minor = number(value.substr(dot + 1), 255);
        } else if (key == "provider-types") {
            s.providerTypes.clear();
            for (const auto& t : splitList(value))
                s.providerTypes.push_back(number(t, 255));
        } else if (key == "default-container") {
            s.defaultContainer = value;
        }
    }
    return s;
}

std::string formatSettings(const Settings& s)
{
    std::string types;
    for (DWORD t : s.providerTypes)
        types += (types.empty() ? "" : ",") + std::to_string(t);
    return "readers=" + joinList(s.readers) + "\nconnected=" + joinList(s.connected) +
           "\nvendor=" + s.vendor + "\nversion=" + std::to_string(s.major) + "." + std::to_string(s.minor) +
           "\nprovider-types=" + types + "\ndefault-container=" + s.defaultContainer + "\n";
}

void saveSettings(const Settings& s)
{
    labdev::writeFileAtomically(requireStateDir() / SETTINGS_FILE, formatSettings(s));
}

std::string hex(const Bytes& data)
{
    return labdev::toHex(data);
}

Bytes unhex(const std::string& text)
{
    try {
        return labdev::fromHex(text);
    } catch (const std::invalid_argument&) {
        fail(NTE_FAIL);
    }
}

namespace
{
std::string formatContainer(const Container& c)
{
    auto text = [](const std::string& s) { return hex(Bytes(s.begin(), s.end())); };
    std::string out = "reader=" + c.reader + "\nname=" + text(c.name) + "\nalias=" + text(c.alias) +
                      "\nunique=" + c.unique + "\n";
    if (c.key) {
        const KeyPair& k = *c.key;
        out += "key.alg=" + std::to_string(k.alg) + "\nkey.keyspec=" + std::to_string(k.keySpec) + "\n";
        if (k.isRsa()) {
            out += "key.rsa.n=" + hex(k.rsa.n) + "\nkey.rsa.e=" + hex(k.rsa.e) +
                   "\nkey.rsa.d=" + hex(k.rsa.d) + "\nkey.rsa.p=" + hex(k.rsa.p) +
                   "\nkey.rsa.q=" + hex(k.rsa.q) + "\nkey.rsa.u=" + hex(k.rsa.u) + "\n";
        } else {
            out += "key.paramset=" + k.paramSet + "\nkey.private=" + hex(k.privateLe) +
                   "\nkey.public=" + hex(k.publicLe) + "\n";
        }
        if (!k.certificate.empty())
            out += "key.certificate=" + hex(k.certificate) + "\n";
    }
    return out;
}

Container parseContainer(const std::string& id, const std::string& text)
{
    Container c;
    c.id = id;
    KeyPair k;
    bool hasKey = false;
    auto bytesText = [](const std::string& h) {
        Bytes b = unhex(h);
        return std::string(b.begin(), b.end());
    };
    for (const auto& [key, value] : parseLines(text)) {
        if (key == "reader")
            c.reader = value;
        else if (key == "name")
            c.name = bytesText(value);
        else if (key == "alias")
            c.alias = bytesText(value);
        else if (key == "unique")
            c.unique = value;
        else if (key == "key.alg")
            hasKey = true, k.alg = number(value, 0xFFFFFFFFul);
        else if (key == "key.keyspec")
            k.keySpec = number(value, 2);
        else if (key == "key.paramset")
            k.paramSet = value;
        else if (key == "key.private")
            k.privateLe = unhex(value);
        else if (key == "key.public")
            k.publicLe = unhex(value);
        else if (key == "key.certificate")
            k.certificate = unhex(value);
        else if (key == "key.rsa.n")
            k.rsa.n = unhex(value);
        else if (key == "key.rsa.e")
            k.rsa.e = unhex(value);
        else if (key == "key.rsa.d")
            k.rsa.d = unhex(value);
        else if (key == "key.rsa.p")
            k.rsa.p = unhex(value);
        else if (key == "key.rsa.q")
            k.rsa.q = unhex(value);
        else if (key == "key.rsa.u")
            k.rsa.u = unhex(value);
    }
    if (hasKey)
        c.key = std::move(k);
    return c;
}
} // namespace

std::vector<Container> loadContainers()
{
    std::vector<Container> out;
    fs::path dir = stateDir();
    std::error_code ec;
    if (dir.empty() || !fs::is_directory(dir / "containers", ec))
        return out;
    std::vector<std::string> ids;
    for (const auto& entry : fs::directory_iterator(dir / "containers", ec))
        if (fs::exists(entry.path() / CONTAINER_FILE))
            ids.push_back(entry.path().filename().string());
    std::sort(ids.begin(), ids.end());
    for (const auto& id : ids)
        out.push_back(parseContainer(id, labdev::readTextFile(dir / "containers" / id / CONTAINER_FILE)));
    return out;
}

Container loadContainer(const std::string& id)
{
    fs::path file = containersDir() / id / CONTAINER_FILE;
    std::error_code ec;
    if (id.empty() || !fs::exists(file, ec))
        fail(NTE_BAD_KEYSET);
    return parseContainer(id, labdev::readTextFile(file));
}

void saveContainer(const Container& c)
{
    fs::path dir = containersDir() / c.id;
    fs::create_directories(dir);
    labdev::writeFileAtomically(dir / CONTAINER_FILE, formatContainer(c));
}

void removeContainer(const std::string& id)
{
    std::error_code ec;
    fs::remove_all(containersDir() / id, ec);
}

Container newContainer(const std::string& reader, const std::string& name, const std::string& alias)
{
    Container c;
    do {
        c.id = randomHex(8, false);
    } while (fs::exists(containersDir() / c.id));
    c.reader = reader;
    c.name = name;
    c.alias = alias;
    c.unique = reader + "\\\\" + c.id + ".000\\" + randomHex(4, true);
    return c;
}

namespace
{
std::string formatStore(const std::vector<StoredCertificate>& certs)
{
    std::string out;
    for (const auto& c : certs) {
        out += "cert=" + hex(c.der);
        if (c.keyProvInfo) {
            const KeyProvInfo& p = *c.keyProvInfo;
            out += " container=" + hex(Bytes(p.container.begin(), p.container.end())) +
                   " provider=" + hex(Bytes(p.provider.begin(), p.provider.end())) +
                   " type=" + std::to_string(p.provType) + " flags=" + std::to_string(p.flags) +
                   " keyspec=" + std::to_string(p.keySpec);
        }
        out += "\n";
    }
    return out;
}
} // namespace

std::vector<StoredCertificate> loadStore(const std::string& name)
{
    std::vector<StoredCertificate> out;
    std::stringstream in(readOptional(storeFile(name)));
    std::string line;
    while (std::getline(in, line)) {
        std::stringstream words(line);
        std::string word;
        StoredCertificate c;
        KeyProvInfo p;
        bool hasProp = false;
        while (words >> word) {
            auto eq = word.find('=');
            if (eq == std::string::npos)
                fail(NTE_FAIL);
            std::string key = word.substr(0, eq), value = word.substr(eq + 1);
            if (key == "cert") {
                c.der = unhex(value);
            } else if (key == "container" || key == "provider") {
                Bytes b = unhex(value);
                (key == "container" ? p.container : p.provider) = std::string(b.begin(), b.end());
                hasProp = true;
            } else if (key == "type") {
                p.provType = number(value, 255);
            } else if (key == "flags") {
                p.flags = number(value, 0xFFFFFFFFul);
            } else if (key == "keyspec") {
                p.keySpec = number(value, 0xFFFFFFFFul);
            }
        }
        if (c.der.empty())
            continue;
        if (hasProp)
            c.keyProvInfo = p;
        out.push_back(std::move(c));
    }
    return out;
}

bool storeExists(const std::string& name)
{
    std::error_code ec;
    return fs::exists(storeFile(name), ec);
}

void saveStore(const std::string& name, const std::vector<StoredCertificate>& certs)
{
    fs::create_directories(storeFile(name).parent_path());
    labdev::writeFileAtomically(storeFile(name), formatStore(certs));
}

std::string toUtf8(const WCHAR* text)
{
    std::string out;
    for (; text && *text; ++text) {
        auto c = static_cast<std::uint32_t>(*text);
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            c = 0xFFFD;
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::wstring fromUtf8(const std::string& text)
{
    std::wstring out;
    for (std::size_t i = 0; i < text.size();) {
        auto b = static_cast<unsigned char>(text[i]);
        std::uint32_t c = b;
        std::size_t n = b < 0x80 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
        if (n > 1 && i + n <= text.size()) {
            c = b & (0x7F >> n);
            for (std::size_t k = 1; k < n; ++k)
                c = c << 6 | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        } else if (n > 1) {
            c = 0xFFFD, n = 1;
        }
        out += static_cast<wchar_t>(c);
        i += n;
    }
    return out;
}

} // namespace labcsp
