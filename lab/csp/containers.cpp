#include "containers.h"

#include "crypto.h"

namespace labcsp
{
namespace
{
constexpr std::string_view QUALIFIED = "\\\\.\\";

// READER and name of "\\.\READER\name"; nullopt for another form.
std::optional<std::pair<std::string, std::string>> qualified(const std::string& name)
{
    if (name.rfind(QUALIFIED, 0) != 0)
        return std::nullopt;
    std::string rest = name.substr(QUALIFIED.size());
    auto slash = rest.find('\\');
    if (slash == std::string::npos)
        return std::pair{rest, std::string()};
    return std::pair{rest.substr(0, slash), rest.substr(slash + 1)};
}
} // namespace

std::string providerName(const Settings& settings, DWORD type)
{
    switch (type) {
    case PROV_GOST_2001_DH:
        return settings.vendor + " GOST R 34.10-2001 Lab CSP";
    case PROV_GOST_2012_256:
        return settings.vendor + " GOST R 34.10-2012 Lab CSP";
    case PROV_GOST_2012_512:
        return settings.vendor + " GOST R 34.10-2012 Strong Lab CSP";
    default:
        return settings.vendor + " RSA and AES Lab CSP";
    }
}

bool fitsType(const Container& c, DWORD type)
{
    return !c.key || isGostType(type) == !c.key->isRsa();
}

std::optional<Container> findContainer(const Settings& settings, const std::string& name)
{
    std::vector<Container> visible;
    for (auto& c : loadContainers())
        if (!settings.reader(c.reader).empty() && settings.isConnected(c.reader))
            visible.push_back(std::move(c));
    if (auto q = qualified(name)) {
        const std::string reader = settings.reader(q->first);
        for (auto& c : visible)
            if (!reader.empty() && settings.reader(c.reader) == reader && c.name == q->second)
                return c;
        return std::nullopt;
    }
    for (auto& c : visible)
        if (c.unique == name)
            return c;
    for (const auto& reader : settings.readers)
        for (auto& c : visible)
            if (settings.reader(c.reader) == reader && c.name == name)
                return c;
    return std::nullopt;
}

Container createContainer(const Settings& settings, const std::string& name)
{
    std::string reader, inner;
    if (auto q = qualified(name)) {
        reader = settings.reader(q->first);
        inner = q->second;
    } else {
        reader = settings.readers.empty() ? std::string() : settings.readers.front();
        inner = name;
    }
    if (reader.empty())
        fail(NTE_KEYSET_ENTRY_BAD);
    if (!settings.isConnected(reader) || inner.empty() || inner.size() > 255 ||
        inner.find('\\') != std::string::npos || inner.find('\n') != std::string::npos)
        fail(NTE_BAD_KEYSET_PARAM);
    for (const auto& c : loadContainers())
        if (settings.reader(c.reader) == reader && c.name == inner)
            fail(NTE_EXISTS);
    Container c = newContainer(reader, inner, name);
    saveContainer(c);
    return c;
}

Container liveContainer(const std::string& id)
{
    if (id.empty())
        fail(NTE_BAD_KEYSET);
    Container c = loadContainer(id);
    if (!loadSettings().isConnected(c.reader))
        fail(NTE_BAD_KEYSET);
    return c;
}

} // namespace labcsp
