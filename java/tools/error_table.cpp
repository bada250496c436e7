// Writes SignerException.java from its template: the javadoc table of every
// catalogue code (code, kind, Russian and English text) in place of
// @ERROR_CODE_ROWS@ and the code-to-kind table in place of @ERROR_KIND_ROWS@.
// A code without a kind is written as INTERNAL (the catalogue test fails on
// it). Run at build time: error_table TEMPLATE OUTPUT.
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <string_view>

#include "jni/error_kinds.h"
#include "jni/errors.h"

namespace
{

// Text safe inside a javadoc comment: HTML escapes, and no "@", "*/" or
// backslash (javac reads \u escapes even in comments).
std::string html(std::string_view text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '@':
            out += "&#64;";
            break;
        case '*':
            out += "&#42;";
            break;
        case '\\':
            out += "&#92;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

const char* kindOf(const std::string& code)
{
    const auto kind = ormid_signer::kindOf(code);
    return ormid_signer::kindName(kind.value_or(ormid_signer::ErrorKind::INTERNAL));
}

void replace(std::string& text, std::string_view token, const std::string& with)
{
    const std::size_t at = text.find(token);
    if (at != std::string::npos)
        text.replace(at, token.size(), with);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::cerr << "usage: error_table TEMPLATE OUTPUT\n";
        return 2;
    }
    std::ifstream in(argv[1]);
    if (!in) {
        std::cerr << "error_table: cannot read " << argv[1] << "\n";
        return 1;
    }
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::ostringstream rows;
    std::ostringstream kinds;
    for (const Localization* catalogue : ormid_signer::allCatalogues()) {
        for (const auto& [code, russian] : catalogue->catalogue().at(RUSSIAN)) {
            const char* kind = kindOf(code);
            rows << " * <tr><td>" << html(code) << "</td><td>{@link Kind#" << kind << "}</td><td>"
                 << html(russian) << "</td><td>" << html(catalogue->get(ENGLISH, code)) << "</td></tr>\n";
            kinds << "        kind(\"" << code << "\", Kind." << kind << ");\n";
        }
    }
    std::string rowText = rows.str();
    std::string kindText = kinds.str();
    rowText.pop_back();
    kindText.pop_back();
    replace(text, "@ERROR_CODE_ROWS@", rowText);
    replace(text, "@ERROR_KIND_ROWS@", kindText);
    replace(text, "@INTERNAL_ERROR_CODE@", ormid_signer::INTERNAL_ERROR_CODE);
    std::ofstream out(argv[2]);
    out << text;
    out.close();
    if (!out) {
        std::cerr << "error_table: cannot write " << argv[2] << "\n";
        return 1;
    }
    return 0;
}
