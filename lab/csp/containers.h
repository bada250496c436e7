// Container names as CryptAcquireContextA takes them: "\\.\READER\name", a
// container's unique name, or a bare name (looked up on every connected
// reader in the readers' order; new containers with a bare name go to the
// first reader, HDIMAGE).
#pragma once

#include <optional>
#include <string>

#include "core.h"

namespace labcsp
{

// The provider's name (PP_NAME): the vendor, then the kind of provider.
std::string providerName(const Settings& settings, DWORD type);

// Whether a context of `type` opens the container: GOST types open GOST
// containers, the RSA type RSA ones; a container without a key fits any.
bool fitsType(const Container& container, DWORD type);

// The container `name` stands for, among those of connected readers.
std::optional<Container> findContainer(const Settings& settings, const std::string& name);

// A new, empty container: NTE_KEYSET_ENTRY_BAD for an unknown reader,
// NTE_BAD_KEYSET_PARAM for a reader whose medium is absent or an unusable
// name, NTE_EXISTS when the reader holds a container of that name.
Container createContainer(const Settings& settings, const std::string& name);

// The container of a context, re-read: NTE_BAD_KEYSET when the context has
// none, when it was deleted or its medium is gone.
Container liveContainer(const std::string& id);

} // namespace labcsp
