// Subject names of certificate requests: a fixed table of supported
// attributes, each written with its own string type.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "asn1/bytes.h"
#include "asn1/oid.h"
#include "asn1/tlv.h"

// One text per supported attribute; an empty text means absent.
struct SubjectDN {
    std::string countryName;
    std::string stateOrProvinceName;
    std::string localityName;
    std::string organizationName;
    std::string organizationalUnitName;
    std::string title;
    std::string commonName;
    std::string emailAddress;
    std::string serialNumber;
    std::string pseudonym;
    std::string postalAddress;
    std::string unstructuredName;
    std::string surname;
    std::string givenName;
    std::string streetAddress;
    std::string inn;
    std::string rnsFss;
    std::string kpFss;
    std::string ogrn;
    std::string snils;
    std::string ogrnip;

    friend bool operator==(const SubjectDN&, const SubjectDN&) = default;
};

// The value element of a name attribute with the string type `tag`. A
// PrintableString (countryName, serialNumber: RFC 5280) whose text leaves
// that alphabet is written as UTF8String instead of as an invalid string.
bytes encodeNameValue(Asn1Tag tag, std::string_view value);

class SubjectDNParser
{
  public:
    struct Entry {
        ObjectIdentifier oid;
        Asn1Tag tag;
        std::string value;
    };

    SubjectDNParser();
    explicit SubjectDNParser(const SubjectDN& subject);

    // Name SEQUENCE with one RDN per non-empty entry, in table order.
    bytes encode() const;
    // Reads a Name whose RDNs each hold exactly one attribute
    // (ParsePkcs10Error otherwise); unknown attribute types are skipped.
    SubjectDN parse(const bytes& nameDer);
    // Stores `value` in the entry whose OID encodes to `oidDer`; an unknown
    // type is only logged.
    void set(const bytes& oidDer, std::string_view value);
    // Value of an entry; ParsePkcs10Error for an OID outside the table.
    std::string get(const ObjectIdentifier& oid) const;

    SubjectDN subject() const;
    const std::vector<Entry>& entries() const noexcept { return m_entries; }

  private:
    std::vector<Entry> m_entries;
};
