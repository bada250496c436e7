#include "x509/pem.h"

#include <stdexcept>
#include <string_view>

#include "base/conv.h"
#include "x509/errors.h"

namespace
{

constexpr std::string_view CERT_BEGIN = "-----BEGIN CERTIFICATE-----";
constexpr std::string_view CERT_END = "-----END CERTIFICATE-----";
constexpr std::string_view CRL_BEGIN = "-----BEGIN X509 CRL-----";
constexpr std::string_view CRL_END = "-----END X509 CRL-----";

std::string_view asText(const bytes& data)
{
    return std::string_view(reinterpret_cast<const char*>(data.data()), data.size());
}

[[noreturn]] void notPem()
{
    throw bs::standardError<std::invalid_argument>(x509::localization, "X509-002002");
}

// Base64 body between the markers. Line ends are dropped anywhere; blanks
// after the END marker are tolerated, any other trailing text is refused
// (the END marker must close the text).
bytes fromPem(const bytes& pem, std::string_view begin, std::string_view end)
{
    std::string text;
    text.reserve(pem.size());
    for (unsigned char c : pem) {
        if (c != '\n' && c != '\r') {
            text.push_back(static_cast<char>(c));
        }
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\0')) {
        text.pop_back();
    }
    const auto start = text.find(begin);
    if (start == std::string::npos) {
        notPem();
    }
    const std::size_t bodyStart = start + begin.size();
    if (text.size() < bodyStart + end.size() ||
        std::string_view(text).substr(text.size() - end.size()) != end) {
        notPem();
    }
    return conv::base64_to_binary(
        std::string_view(text).substr(bodyStart, text.size() - end.size() - bodyStart));
}

} // namespace

namespace cert
{

bool isPemFormat(const bytes& data)
{
    return asText(data).find(CERT_BEGIN) != std::string_view::npos;
}

} // namespace cert

namespace crl
{

bool isPemFormat(const bytes& data)
{
    return asText(data).find(CRL_BEGIN) != std::string_view::npos;
}

bytes pem_to_x509(const bytes& pem)
{
    if (!isPemFormat(pem)) {
        notPem();
    }
    return fromPem(pem, CRL_BEGIN, CRL_END);
}

} // namespace crl

namespace conv
{

bytes pem_to_x509(const bytes& pem)
{
    if (!cert::isPemFormat(pem)) {
        notPem();
    }
    return fromPem(pem, CERT_BEGIN, CERT_END);
}

bytes x509_to_pem(const bytes& der)
{
    if (cert::isPemFormat(der)) {
        return der;
    }
    const std::string body = binary_to_base64(der);
    std::string text;
    text.reserve(body.size() + body.size() / 64 + CERT_BEGIN.size() + CERT_END.size() + 4);
    text.append(CERT_BEGIN).push_back('\n');
    std::size_t pos = 0;
    while (body.size() - pos > 64) {
        text.append(body, pos, 64).push_back('\n');
        pos += 64;
    }
    text.append(body, pos, std::string::npos).push_back('\n');
    text.append(CERT_END).push_back('\n');
    return bytes(text.begin(), text.end());
}

} // namespace conv
