#include "vel_card.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>

#include <gcrypt.h>

#include "apdu_log.h"

namespace lab
{
namespace
{

const char* const CURVE = "GOST2012-512-tc26-A";
constexpr std::uint8_t WORKING_STATE = 0x07;

struct Sexp {
    gcry_sexp_t p = nullptr;
    Sexp() = default;
    explicit Sexp(gcry_sexp_t s) : p(s) {}
    Sexp(const Sexp&) = delete;
    Sexp& operator=(const Sexp&) = delete;
    ~Sexp() { gcry_sexp_release(p); }
};

void check(gcry_error_t err, const char* what)
{
    if (err) {
        throw std::runtime_error(std::string(what) + ": " + gcry_strerror(err));
    }
}

// An unsigned big-endian number of the element `name` of `s`, left-padded to `width` bytes.
bytes numberOf(gcry_sexp_t s, const char* name, std::size_t width)
{
    Sexp token(gcry_sexp_find_token(s, name, 0));
    if (!token.p) {
        throw std::runtime_error(std::string("no '") + name + "' in the key or signature");
    }
    std::size_t len = 0;
    const char* raw = gcry_sexp_nth_data(token.p, 1, &len);
    if (!raw) {
        throw std::runtime_error(std::string("empty '") + name + "'");
    }
    bytes value(raw, raw + len);
    while (value.size() > width && value.front() == 0) {
        value.erase(value.begin());
    }
    if (value.size() > width) {
        throw std::runtime_error(std::string("'") + name + "' too long");
    }
    value.insert(value.begin(), width - value.size(), 0);
    return value;
}

void initGcrypt()
{
    static const bool done = [] {
        if (!gcry_check_version(GCRYPT_VERSION)) {
            throw std::runtime_error("libgcrypt version mismatch");
        }
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
        return true;
    }();
    (void)done;
}

const std::set<std::string> KEYS = {"serial",    "lifecycle",       "pin", "default_pin", "tries",
                                    "max_tries", "activation_code", "d",   "public"};
// Optional fields, off when absent: "info_without_tries" leaves tag 97 out of
// the device information (a device that does not report its tries); "mute"
// never answers a command; "pull_at" (an INS in hex) leaves the reader, once,
// when a command with that instruction arrives; "short_at" (an INS in hex)
// answers every command with that instruction with one byte, no status word;
// "sw_at" (INS[P1]:SW in hex, e.g. 2A:6F00 or 2002:6581) answers every
// command with that instruction (and P1) with that status word alone;
// "mute_at" (INS[P1] in hex) never answers a command with that instruction
// (and P1), while the others are answered.
const std::set<std::string> OPTIONAL_KEYS = {"info_without_tries", "mute", "pull_at", "short_at", "sw_at",
                                             "mute_at"};

class VelCard : public Card
{
  public:
    VelCard(const std::string& stateDir, const std::string& device)
        : m_state(VelState::pathFor(stateDir, device)), m_log(VelState::apduLogPathFor(stateDir, device))
    {
        initGcrypt();
        m_state.load();
        // The life-cycle byte of the ATR is fixed when the device is plugged
        // in: an activated device shows its working state after a reconnect.
        m_atrState = stateByte(m_state.get("lifecycle"));
    }

    bytes atr() override
    {
        return withTck(
            {0x3B, 0x9B, 0x96, 0x01, 0x80, 0x31, 0x01, 0x61, 0x56, 0x73, 0x00, 0x21, 0x51, 0x81, m_atrState});
    }

    void powerOff() override { m_session.clear(); }

    void exchanged(const bytes& command, const std::optional<bytes>& answer) override
    {
        m_log.record(command, answer);
    }

    bool leaving() const override { return m_leaving; }

    std::optional<bytes> process(const bytes& apdu) override
    {
        m_state.load();
        if (pulledOutBy(apdu)) {
            // Once: the device put back answers this instruction again.
            m_state.set("pull_at", "");
            m_state.save();
            m_leaving = true;
            return std::nullopt;
        }
        if (m_state.getOptionalInt("mute") != 0 || commandIn(m_state.getOptional("mute_at"), apdu)) {
            return std::nullopt;
        }
        if (instructionIn("short_at", apdu)) {
            return bytes{0x90};
        }
        if (const std::string swAt = m_state.getOptional("sw_at"); !swAt.empty()) {
            const std::size_t colon = swAt.find(':');
            if (commandIn(swAt.substr(0, colon), apdu)) {
                return fromHex(swAt.substr(colon + 1));
            }
        }
        const auto cmd = parseCommand(apdu);
        if (!cmd) {
            return swOnly(0x6700);
        }
        if (cmd->cla != 0x00) {
            return swOnly(0x6E00);
        }
        const std::uint16_t p1p2 = static_cast<std::uint16_t>(cmd->p1 << 8 | cmd->p2);
        switch (cmd->ins) {
        case 0xF5:
            return p1p2 == 0x0000 ? deviceInfo() : swOnly(0x6A86);
        case 0x20:
            if (p1p2 == 0x0101) {
                return checkPin(cmd->data);
            }
            if (p1p2 == 0x0201) {
                return endSession(cmd->data);
            }
            return swOnly(0x6A86);
        case 0x24:
            return p1p2 == 0x0101 ? changePin(cmd->data) : swOnly(0x6A86);
        case 0x2A:
            return p1p2 == 0x9E80 ? sign(cmd->data) : swOnly(0x6A86);
        case 0xF0:
            return p1p2 == 0x0100 ? activate(cmd->data) : swOnly(0x6A86);
        default:
            return swOnly(0x6D00);
        }
    }

  private:
    static std::uint8_t stateByte(const std::string& lifecycle)
    {
        return lifecycle == "working" ? WORKING_STATE : static_cast<std::uint8_t>(std::stoi(lifecycle));
    }

    // Whether the optional field `key` names the instruction of `apdu`.
    bool instructionIn(const char* key, const bytes& apdu) const
    {
        const std::string ins = m_state.getOptional(key);
        return !ins.empty() && apdu.size() >= 2 && fromHex(ins) == bytes{apdu[1]};
    }

    bool pulledOutBy(const bytes& apdu) const { return instructionIn("pull_at", apdu); }

    // Whether `command` (INS or INS P1 in hex, empty for none) names the command of `apdu`.
    static bool commandIn(const std::string& command, const bytes& apdu)
    {
        const bytes insP1 = fromHex(command);
        return !insP1.empty() && apdu.size() >= 1 + insP1.size() &&
               std::equal(insP1.begin(), insP1.end(), apdu.begin() + 1);
    }

    bool working() const { return m_state.get("lifecycle") == "working"; }

    bytes deviceInfo() const
    {
        const bytes serial = fromHex(m_state.get("serial"));
        bytes out{0x95, static_cast<std::uint8_t>(serial.size())};
        out.insert(out.end(), serial.begin(), serial.end());
        out.insert(out.end(), {0x96, 0x01, static_cast<std::uint8_t>(m_state.getInt("default_pin") != 0)});
        if (m_state.getOptionalInt("info_without_tries") == 0) {
            out.insert(out.end(), {0x97, 0x01, static_cast<std::uint8_t>(m_state.getInt("tries"))});
        }
        return withSw(out, 0x9000);
    }

    // A wrong PIN costs one try; the last one blocks the device.
    bytes wrongPin()
    {
        const int tries = std::max(0, m_state.getInt("tries") - 1);
        m_state.set("tries", std::to_string(tries));
        if (tries == 0) {
            m_state.set("lifecycle", "4");
        }
        m_state.save();
        m_session.clear();
        return swOnly(static_cast<std::uint16_t>(0x63C0 | std::min(tries, 15)));
    }

    bool pinMatches(const bytes& pin) const
    {
        const std::string stored = m_state.get("pin");
        return pin == bytes(stored.begin(), stored.end());
    }

    bytes checkPin(const bytes& pin)
    {
        if (m_state.getInt("tries") == 0 || m_state.get("lifecycle") == "4") {
            return swOnly(0x6983);
        }
        if (!working()) {
            return swOnly(0x6985);
        }
        if (!pinMatches(pin)) {
            return wrongPin();
        }
        m_state.set("tries", m_state.get("max_tries"));
        m_state.save();
        m_session.resize(8);
        gcry_randomize(m_session.data(), m_session.size(), GCRY_STRONG_RANDOM);
        return withSw(m_session, 0x9000);
    }

    bytes endSession(const bytes& token)
    {
        if (m_session.empty() || token != m_session) {
            return swOnly(0x6A80);
        }
        m_session.clear();
        return swOnly(0x9000);
    }

    bytes changePin(const bytes& data)
    {
        const auto tlvs = parseShortTlvs(data);
        if (!tlvs || tlvs->size() != 2 || (*tlvs)[0].first != 0x01 || (*tlvs)[1].first != 0x02) {
            return swOnly(0x6A80);
        }
        if (m_session.empty()) {
            return swOnly(0x6982);
        }
        if (m_state.getInt("tries") == 0) {
            return swOnly(0x6983);
        }
        if (!pinMatches((*tlvs)[0].second)) {
            return wrongPin();
        }
        const bytes& next = (*tlvs)[1].second;
        if (next.empty() || next.size() > 32 || std::find(next.begin(), next.end(), 0) != next.end()) {
            return swOnly(0x6A80);
        }
        m_state.set("pin", std::string(next.begin(), next.end()));
        m_state.set("default_pin", "0");
        m_state.set("tries", m_state.get("max_tries"));
        m_state.save();
        return swOnly(0x9000);
    }

    bytes sign(const bytes& data)
    {
        const auto tlvs = parseShortTlvs(data);
        if (!tlvs || tlvs->size() != 2 || (*tlvs)[0].first != 0x82 || (*tlvs)[1].first != 0x01 ||
            (*tlvs)[1].second.empty()) {
            return swOnly(0x6A80);
        }
        if (m_session.empty() || (*tlvs)[0].second != m_session) {
            return swOnly(0x6982);
        }
        return withSw(velSign(m_state.get("d"), (*tlvs)[1].second), 0x9000);
    }

    bytes activate(const bytes& data)
    {
        const auto tlvs = parseShortTlvs(data);
        if (!tlvs || tlvs->size() != 2 || (*tlvs)[0].first != 0x01 || (*tlvs)[1].first != 0x02) {
            return swOnly(0x6A80);
        }
        if (m_state.get("lifecycle") != "6") {
            return swOnly(0x6985);
        }
        if ((*tlvs)[1].second.size() != 400) {
            return swOnly(0x6700);
        }
        const std::string code = m_state.get("activation_code");
        if ((*tlvs)[0].second != bytes(code.begin(), code.end())) {
            return swOnly(0x6982);
        }
        m_state.set("lifecycle", "working");
        m_state.save();
        return swOnly(0x9000);
    }

    VelState m_state;
    ApduLog m_log;
    std::uint8_t m_atrState;
    bytes m_session;
    bool m_leaving = false;
};

} // namespace

std::string VelState::pathFor(const std::string& stateDir, const std::string& device)
{
    return stateDir + "/vel/" + device + ".state";
}

std::string VelState::apduLogPathFor(const std::string& stateDir, const std::string& device)
{
    return stateDir + "/vel/" + device + ".apdu.log";
}

void VelState::load()
{
    std::ifstream in(m_path);
    if (!in) {
        throw std::runtime_error("cannot read " + m_path);
    }
    std::map<std::string, std::string> values;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        const auto eq = line.find('=');
        if (eq == std::string::npos) {
            throw std::runtime_error("malformed line in " + m_path + ": " + line);
        }
        values[line.substr(0, eq)] = line.substr(eq + 1);
    }
    for (const auto& key : KEYS) {
        if (!values.count(key)) {
            throw std::runtime_error(m_path + " lacks '" + key + "'");
        }
    }
    m_values = std::move(values);
}

void VelState::save() const
{
    const std::string tmp = m_path + ".tmp";
    {
        std::ofstream out(tmp, std::ios::trunc);
        for (const auto& [key, value] : m_values) {
            out << key << '=' << value << '\n';
        }
        if (!out) {
            throw std::runtime_error("cannot write " + tmp);
        }
    }
    if (std::rename(tmp.c_str(), m_path.c_str()) != 0) {
        throw std::runtime_error("cannot replace " + m_path);
    }
}

void VelState::create(const std::string& serialHex)
{
    initGcrypt();
    Sexp params;
    check(gcry_sexp_build(&params.p, nullptr, "(genkey (ecc (curve %s)))", CURVE), "key parameters");
    Sexp key;
    check(gcry_pk_genkey(&key.p, params.p), "key generation");
    const bytes d = numberOf(key.p, "d", 64);
    const bytes q = numberOf(key.p, "q", 129); // 04 || X || Y, big-endian
    // Public key as a certificate carries it: X and Y, each little-endian.
    bytes pub(q.begin() + 1, q.begin() + 65);
    std::reverse(pub.begin(), pub.end());
    bytes y(q.begin() + 65, q.end());
    std::reverse(y.begin(), y.end());
    pub.insert(pub.end(), y.begin(), y.end());

    m_values.clear();
    set("serial", serialHex);
    m_values["lifecycle"] = "working";
    m_values["pin"] = "123456";
    m_values["default_pin"] = "1";
    m_values["tries"] = "10";
    m_values["max_tries"] = "10";
    m_values["activation_code"] = "12345678";
    m_values["d"] = toHex(d);
    m_values["public"] = toHex(pub);
}

void VelState::set(const std::string& key, const std::string& value)
{
    if (!KEYS.count(key) && !OPTIONAL_KEYS.count(key)) {
        throw std::invalid_argument("unknown field '" + key + "'");
    }
    if (value.empty() && OPTIONAL_KEYS.count(key)) {
        m_values.erase(key);
        return;
    }
    auto number = [&](int lo, int hi) {
        std::size_t used = 0;
        int n = 0;
        try {
            n = std::stoi(value, &used);
        } catch (const std::exception&) {
            used = 0;
        }
        if (used != value.size() || value.empty() || n < lo || n > hi) {
            throw std::invalid_argument(key + " must be a number from " + std::to_string(lo) + " to " +
                                        std::to_string(hi));
        }
    };
    if (key == "serial") {
        if (fromHex(value).size() != 4) {
            throw std::invalid_argument("serial must be 4 bytes in hex");
        }
    } else if (key == "lifecycle") {
        if (value != "working" && value != "3" && value != "4" && value != "6") {
            throw std::invalid_argument("lifecycle must be working, 3, 4 or 6");
        }
    } else if (key == "tries" || key == "max_tries") {
        number(0, 255);
    } else if (key == "default_pin" || key == "info_without_tries" || key == "mute") {
        number(0, 1);
    } else if (key == "pull_at" || key == "short_at") {
        const auto hex = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
        if (value.size() != 2 || !hex(value[0]) || !hex(value[1])) {
            throw std::invalid_argument(key + " must be an instruction byte: two hex digits");
        }
    } else if (key == "sw_at" || key == "mute_at") {
        const auto hex = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
        const std::size_t colon = key == "sw_at" ? value.find(':') : value.size();
        const bool command = (colon == 2 || colon == 4) && std::all_of(value.begin(), value.begin() + colon, hex);
        const bool sw = key == "mute_at" || (command && value.size() == colon + 5 &&
                                             std::all_of(value.begin() + colon + 1, value.end(), hex));
        if (!value.empty() && (!command || !sw)) {
            throw std::invalid_argument(key == "sw_at" ? "sw_at must be INS[P1]:SW in hex (2A:6F00, 2002:6581)"
                                                       : "mute_at must be INS[P1] in hex (2A, 2002)");
        }
    } else if (key == "d" || key == "public") {
        fromHex(value);
    }
    m_values[key] = value;
}

std::string VelState::get(const std::string& key) const
{
    const auto it = m_values.find(key);
    if (it == m_values.end()) {
        throw std::runtime_error("no '" + key + "' in " + m_path);
    }
    return it->second;
}

int VelState::getInt(const std::string& key) const
{
    return std::stoi(get(key));
}

std::string VelState::getOptional(const std::string& key) const
{
    const auto it = m_values.find(key);
    return it == m_values.end() ? std::string() : it->second;
}

int VelState::getOptionalInt(const std::string& key) const
{
    const std::string value = getOptional(key);
    return value.empty() ? 0 : std::stoi(value);
}

std::unique_ptr<Card> makeVelCard(const std::string& stateDir, const std::string& device)
{
    return std::make_unique<VelCard>(stateDir, device);
}

bytes velSign(const std::string& dHex, const bytes& data)
{
    initGcrypt();
    bytes digest(64);
    gcry_md_hash_buffer(GCRY_MD_STRIBOG512, digest.data(), data.data(), data.size());
    // The digest is a little-endian number; libgcrypt takes it big-endian.
    std::reverse(digest.begin(), digest.end());
    const bytes d = fromHex(dHex);
    Sexp key;
    check(gcry_sexp_build(&key.p, nullptr, "(private-key (ecc (curve %s) (d %b)))", CURVE,
                          static_cast<int>(d.size()), d.data()),
          "private key");
    Sexp hash;
    check(gcry_sexp_build(&hash.p, nullptr, "(data (flags gost) (value %b))", static_cast<int>(digest.size()),
                          digest.data()),
          "hash value");
    Sexp sig;
    check(gcry_pk_sign(&sig.p, hash.p, key.p), "signing");
    bytes out = numberOf(sig.p, "s", 64);
    const bytes r = numberOf(sig.p, "r", 64);
    out.insert(out.end(), r.begin(), r.end());
    return out;
}

} // namespace lab
