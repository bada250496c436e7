// PEM to DER for certificates and CRLs, and DER to PEM and back.
#include <cstdint>
#include <cstdlib>
#include <stdexcept>

#include "x509/pem.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const bytes input(data, data + size);
    try {
        (void)conv::pem_to_x509(input);
    } catch (const std::invalid_argument&) {
    }
    try {
        (void)crl::pem_to_x509(input);
    } catch (const std::invalid_argument&) {
    }
    if (!cert::isPemFormat(input)) {
        // Our PEM of any octets reads back to the same octets.
        if (conv::pem_to_x509(conv::x509_to_pem(input)) != input) {
            std::abort();
        }
    }
    return 0;
}
