#include "x509/subject_dn.h"

#include "asn1/der.h"
#include "base/logger.h"
#include "x509/algorithms.h"
#include "x509/errors.h"

namespace
{

// Table order and string types of the supported attributes, with the field
// each one maps to.
struct Field {
    const ObjectIdentifier& oid;
    Asn1Tag tag;
    std::string SubjectDN::*member;
};

const std::vector<Field>& fields()
{
    static const std::vector<Field> table{
        {cert::COUNTRY_NAME_OID, Asn1Tag::PRINTABLE_STRING, &SubjectDN::countryName},
        {cert::STATE_OR_PROVINCE_NAME_OID, Asn1Tag::UTF8_STRING, &SubjectDN::stateOrProvinceName},
        {cert::LOCALITY_NAME_OID, Asn1Tag::UTF8_STRING, &SubjectDN::localityName},
        {cert::ORGANIZATION_NAME_OID, Asn1Tag::UTF8_STRING, &SubjectDN::organizationName},
        {cert::ORGANIZATIONAL_UNIT_NAME_OID, Asn1Tag::UTF8_STRING, &SubjectDN::organizationalUnitName},
        {cert::TITLE_OID, Asn1Tag::UTF8_STRING, &SubjectDN::title},
        {cert::COMMON_NAME_OID, Asn1Tag::UTF8_STRING, &SubjectDN::commonName},
        {cert::EMAIL_ADDRESS_OID, Asn1Tag::IA5_STRING, &SubjectDN::emailAddress},
        {cert::SERIAL_NUMBER_OID, Asn1Tag::PRINTABLE_STRING, &SubjectDN::serialNumber},
        {cert::PSEUDONYM_OID, Asn1Tag::UTF8_STRING, &SubjectDN::pseudonym},
        {cert::POSTAL_ADDRESS_OID, Asn1Tag::UTF8_STRING, &SubjectDN::postalAddress},
        {cert::UNSTRUCTURED_NAME_OID, Asn1Tag::UTF8_STRING, &SubjectDN::unstructuredName},
        {cert::SURNAME_OID, Asn1Tag::UTF8_STRING, &SubjectDN::surname},
        {cert::GIVENNAME_OID, Asn1Tag::UTF8_STRING, &SubjectDN::givenName},
        {cert::STREET_ADDRESS_OID, Asn1Tag::UTF8_STRING, &SubjectDN::streetAddress},
        {cert::INN_OID, Asn1Tag::NUMERIC_STRING, &SubjectDN::inn},
        {cert::RNS_FSS_OID, Asn1Tag::UTF8_STRING, &SubjectDN::rnsFss},
        {cert::KP_FSS_OID, Asn1Tag::UTF8_STRING, &SubjectDN::kpFss},
        {cert::OGRN_OID, Asn1Tag::NUMERIC_STRING, &SubjectDN::ogrn},
        {cert::SNILS_OID, Asn1Tag::NUMERIC_STRING, &SubjectDN::snils},
        {cert::OGRNIP_OID, Asn1Tag::NUMERIC_STRING, &SubjectDN::ogrnip},
    };
    return table;
}

bool isPrintableString(std::string_view text)
{
    constexpr std::string_view PUNCTUATION = " '()+,-./:=?";
    for (const char c : text) {
        const bool alphanumeric = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        if (!alphanumeric && PUNCTUATION.find(c) == std::string_view::npos)
            return false;
    }
    return true;
}

} // namespace

bytes encodeNameValue(Asn1Tag tag, std::string_view value)
{
    if (tag == Asn1Tag::PRINTABLE_STRING && !isPrintableString(value))
        tag = Asn1Tag::UTF8_STRING;
    return der::encodeString(tag, value);
}

SubjectDNParser::SubjectDNParser() : SubjectDNParser(SubjectDN{}) {}

SubjectDNParser::SubjectDNParser(const SubjectDN& subject)
{
    for (const Field& field : fields())
        m_entries.push_back({field.oid, field.tag, subject.*field.member});
}

bytes SubjectDNParser::encode() const
{
    std::vector<bytes> rdns;
    for (const Entry& entry : m_entries) {
        if (entry.value.empty())
            continue;
        const bytes attribute = der::encode(
            std::vector<bytes>{der::encode(entry.oid), encodeNameValue(entry.tag, entry.value)});
        rdns.push_back(der::encode(std::set<bytes>{attribute}));
    }
    return der::encode(rdns);
}

SubjectDN SubjectDNParser::parse(const bytes& nameDer)
{
    bs::Logger log("SubjectDNParser::parse");
    for (const bytes& rdn : der::getSequense(nameDer, true)) {
        const std::set<bytes> attributes = der::getSet(rdn);
        if (attributes.size() != 1) {
            log.error("Incorrect subject number info");
            throw ParsePkcs10Error();
        }
        const std::vector<bytes> pair = der::getSequense(*attributes.begin());
        if (pair.size() != 2) {
            log.error("Incorrect subject number info");
            throw ParsePkcs10Error();
        }
        set(pair[0], der::parseString(pair[1]));
    }
    return subject();
}

void SubjectDNParser::set(const bytes& oidDer, std::string_view value)
{
    for (Entry& entry : m_entries) {
        if (der::encode(entry.oid) == oidDer) {
            entry.value = value;
            return;
        }
    }
    bs::Logger log("SubjectDNParser::set");
    std::string type;
    try {
        type = der::getObjectIdentifier(oidDer).text();
    } catch (const std::exception&) {
        type = "?";
    }
    log.warning("Subject field not found, oid: " + type);
}

std::string SubjectDNParser::get(const ObjectIdentifier& oid) const
{
    for (const Entry& entry : m_entries) {
        if (entry.oid == oid)
            return entry.value;
    }
    bs::Logger log("SubjectDNParser::get");
    log.error("Subject field not found, oid: " + oid.text());
    throw ParsePkcs10Error();
}

SubjectDN SubjectDNParser::subject() const
{
    SubjectDN result;
    const std::vector<Field>& table = fields();
    for (std::size_t i = 0; i < table.size(); ++i)
        result.*table[i].member = m_entries[i].value;
    return result;
}
