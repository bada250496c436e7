// The openssl-made CMS corpus of tests/pkcs7/corpus (make-corpus.sh there
// regenerates it): file access and openssl's verdict on a message.
#pragma once

#include <algorithm>
#include <cctype>
#include <string>

#include "support/gost_soft.h"
#include "x509/x509.h"

namespace corpus
{

inline std::string path(const std::string& name)
{
    const std::string here = __FILE__;
    return here.substr(0, here.rfind('/')) + "/corpus/" + name;
}

inline gostsoft::Bytes read(const std::string& name)
{
    return gostsoft::readFile(path(name));
}

// Every message signs this content, attached.
inline gostsoft::Bytes content()
{
    return read("content.txt");
}

// `openssl cms -verify` of the signatures (no chain building); the rsa
// certificate is offered for messages that carry none.
inline bool opensslVerifies(const std::string& file)
{
    return gostsoft::openssl("cms -verify -noverify -binary -inform DER -in " + file + " -certfile " +
                             path("rsa.pem") + " -out /dev/null")
               .status == 0;
}

// A test name from a corpus file name: "rsa-pss+gost256.p7s" -> "rsa_pss_gost256".
inline std::string testName(std::string file)
{
    file = file.substr(0, file.find('.'));
    std::replace_if(
        file.begin(), file.end(), [](char ch) { return !std::isalnum(static_cast<unsigned char>(ch)); }, '_');
    return file;
}

// The corpus name of a certificate ("rsa", "gost256", ...); "" for none.
inline std::string certificateName(const X509& certificate)
{
    if (certificate.empty())
        return "";
    for (const char* name : {"rsa", "rsa2", "ec", "gost256", "gost512", "ca-a", "ca-b"}) {
        if (read(std::string(name) + ".der") == certificate.data())
            return name;
    }
    return "?";
}

} // namespace corpus
