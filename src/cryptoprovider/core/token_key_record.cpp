#include "cryptoprovider/core/token_key_record.h"

#include <stdexcept>
#include <utility>

#include "base/encoding.h"
#include "base/logger.h"
#include "x509/errors.h"

namespace
{

// One code byte and the Windows-1251 text it stands for.
using AliasCode = std::pair<char, std::string>;

// The compression tables in the order they are applied: words, four-, three-
// and two-letter groups. The texts are written in UTF-8 and compared in
// Windows-1251.
const std::vector<AliasCode>& aliasCodes()
{
    static const std::vector<AliasCode> codes = [] {
        const std::pair<unsigned char, std::string_view> utf8[] = {
            // words
            {0xB6, "иректор"},
            {0xB7, "ухгалтер"},
            {0xBC, "енеральный"},
            {0x7F, "лавный"},
            // four letters
            {0x01, "лько"},
            {0x02, "врем"},
            {0x03, "тобы"},
            {0x04, "огда"},
            {0x05, "азал"},
            {0x06, "олып"},
            {0x07, "еред"},
            {0x08, "отор"},
            {0xB5, "ключ"},
            // three letters
            {0x09, "ств"},
            {0x0B, "был"},
            {0x0C, "при"},
            {0x0E, "про"},
            {0x0F, "ере"},
            {0x10, "ого"},
            {0x11, "ост"},
            {0x12, "ись"},
            {0x13, "енн"},
            {0x14, "вет"},
            // two letters
            {0x15, "то"},
            {0x16, "ст"},
            {0x17, "ов"},
            {0x18, "ен"},
            {0x19, "по"},
            {0x1A, "аз"},
            {0x1B, "ак"},
            {0x1C, "ер"},
            {0x1D, "ол"},
            {0x1E, "ор"},
            {0x1F, "он"},
            {0x80, "ел"},
            {0x85, "ет"},
            {0x86, "ам"},
            {0x87, "от"},
            {0x89, "ом"},
            {0x8A, "ас"},
            {0x8C, "ан"},
            {0x8D, "ин"},
            {0x8E, "ск"},
            {0x8F, "на"},
            {0x90, "за"},
            {0x99, "ар"},
            {0x9A, "ик"},
            {0x9C, "пр"},
            {0x9D, "ев"},
            {0x9E, "ив"},
            {0x9F, "ит"},
            {0xA0, "ил"},
            {0xA1, "ед"},
            {0xA2, "ем"},
            {0xA3, "ть"},
            {0xA4, "ал"},
            {0xA5, "ат"},
            {0xA6, "ав"},
            {0xA7, "ся"},
            {0xA9, "ее"},
            {0xAC, "об"},
            {0xAD, "од"},
            {0xAE, "ос"},
            {0xAF, "ис"},
            {0xB0, "ог"},
            {0xB1, "им"},
            {0xB2, "ег"},
            {0xB3, "ич"},
            {0xB4, "сь"},
            {0xBD, "оо"},
            {0xBE, " \""},
            {0xBF, "\" "},
        };
        std::vector<AliasCode> table;
        table.reserve(std::size(utf8));
        for (const auto& [code, text] : utf8) {
            table.emplace_back(static_cast<char>(code), encoding::utf8_to_cp1251(text));
        }
        return table;
    }();
    return codes;
}

// Replaces `from` with `to` again and again, from the start, until `from`
// no longer occurs.
void replaceAll(std::string& text, std::string_view from, std::string_view to)
{
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from)) {
        text.replace(at, from.size(), to);
    }
}

constexpr std::size_t ALIAS_OFFSET = 11;
const char* const SHORT_RECORD = "Размер данных ключа слишком мал";

std::uint64_t readBigEndian(const bytes& data, std::size_t offset, std::size_t size)
{
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < size; ++i) {
        value = (value << 8) | data[offset + i];
    }
    return value;
}

void appendBigEndian(bytes& out, std::uint64_t value, std::size_t size)
{
    for (std::size_t i = size; i-- > 0;) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

} // namespace

std::string encodeAlias(std::string_view cp1251)
{
    std::string text(cp1251);
    for (const auto& [code, group] : aliasCodes()) {
        replaceAll(text, group, std::string_view(&code, 1));
    }
    return text;
}

std::string decodeAlias(std::string_view encoded)
{
    std::string text(encoded);
    for (const auto& [code, group] : aliasCodes()) {
        replaceAll(text, std::string_view(&code, 1), group);
    }
    return text;
}

TokenKeyRecord::TokenKeyRecord(std::uint8_t id, const bytes& data, const ParamSets& paramSets,
                               std::string_view cryptoType, bool legacy2001)
    : KeyRecord({}, AlgorithmId(), {}, {}, X509())
{
    bs::Logger log("TokenKeyRecord::TokenKeyRecord new format");
    if (data.size() <= ALIAS_OFFSET) {
        log.error(SHORT_RECORD);
        throw std::invalid_argument(SHORT_RECORD);
    }
    parse(id, data, paramSets, cryptoType, legacy2001);
}

TokenKeyRecord::TokenKeyRecord(const bytes& data, const ParamSets& paramSets, std::string_view cryptoType)
    : KeyRecord({}, AlgorithmId(), {}, {}, X509())
{
    bs::Logger log("TokenKeyRecord::TokenKeyRecord VEL-token");
    if (data.size() <= ALIAS_OFFSET + 1) {
        log.error(SHORT_RECORD);
        throw std::invalid_argument(SHORT_RECORD);
    }
    parse(255, bytes(data.begin(), data.end() - 1), paramSets, cryptoType, true);
    const std::uint8_t algorithm = data.back();
    if (algorithm >= VEL_TOKEN_SIGN_ALGORITHMS.size()) {
        throw UnknownAlgorithm();
    }
    setSignAlgorithm(VEL_TOKEN_SIGN_ALGORITHMS[algorithm]);
}

TokenKeyRecord::TokenKeyRecord(std::string_view alias, std::uint16_t systemId, std::uint64_t externalId,
                               const AlgorithmId& signAlgorithm, std::string_view paramsOid,
                               const ParamSets& paramSets, std::uint8_t id, std::string_view cryptoType)
    : KeyRecord(alias, signAlgorithm, paramsOid, cryptoType, X509())
{
    bs::Logger log("TokenKeyRecord::TokenKeyRecord keyInfo");
    m_paramSetIndex = getGost3410AlgParamsId(paramsOid, paramSets);
    setAlias(alias);
    setSystemId(systemId);
    setExternalId(externalId);
    setId(id);
}

void TokenKeyRecord::parse(std::uint8_t id, const bytes& data, const ParamSets& paramSets,
                           std::string_view cryptoType, bool legacy2001)
{
    const std::string encoded(data.begin() + ALIAS_OFFSET, data.end());
    setAlias(encoding::cp1251_to_utf8(decodeAlias(encoded)));
    setSystemId(static_cast<std::uint16_t>(readBigEndian(data, 0, 2)));
    setExternalId(readBigEndian(data, 2, 8));
    setId(id);
    m_paramSetIndex = data[10];
    if (const auto found = paramSets.find(m_paramSetIndex); found != paramSets.end()) {
        setAlgParamsOid(found->second);
    }
    setSignAlgorithm(legacy2001 ? GOST_R_3410_2001 : findSignAlgorithmIdByParamsId(algParamsOid()));
    setCryptoType(cryptoType);
}

bytes TokenKeyRecord::data(FORMAT_VERSION version) const
{
    bytes out;
    appendBigEndian(out, systemId(), 2);
    appendBigEndian(out, externalId(), 8);
    out.push_back(m_paramSetIndex);
    const std::string alias = encodeAlias(encoding::utf8_to_cp1251(this->alias()));
    out.insert(out.end(), alias.begin(), alias.end());
    if (version == FORMAT_VERSION::V2) {
        std::size_t index = 0;
        while (index < VEL_TOKEN_SIGN_ALGORITHMS.size() &&
               VEL_TOKEN_SIGN_ALGORITHMS[index] != signAlgorithm()) {
            ++index;
        }
        if (index == VEL_TOKEN_SIGN_ALGORITHMS.size()) {
            throw UnsupportedAlgorithm(signAlgorithm().name());
        }
        out.push_back(static_cast<std::uint8_t>(index));
    }
    return out;
}
