#include "state.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <memory>
#include <cstdlib>
#include <set>
#include <sstream>

namespace labtoken
{
namespace fs = std::filesystem;

namespace
{
// Storage for an object whose destructor never runs.
template <class T> T& neverDestroyed()
{
    alignas(T) static std::byte storage[sizeof(T)];
    static T* object = std::construct_at(reinterpret_cast<T*>(storage));
    return *object;
}
} // namespace

std::mutex& g_mutex = neverDestroyed<std::mutex>();
ModuleState& g = neverDestroyed<ModuleState>();

std::mutex& tokenMutex(CK_SLOT_ID slot)
{
    // A fixed table in the module's own storage, nothing on the heap: the
    // module can be unloaded while the process goes on, and a heap map kept
    // only from unloaded storage is a leak. The lab's slot numbers are small;
    // two slots sharing a turn would only wait for each other.
    static std::array<std::mutex, 64> mutexes;
    return mutexes[slot % mutexes.size()];
}

std::string family()
{
    return moduleFamily();
}

fs::path stateDir()
{
    const char* dir = std::getenv(labdev::STATE_DIR_ENV);
    return dir && *dir ? fs::path(dir) : fs::path();
}

const labdev::ModelInfo& modelOf(const Device& d)
{
    const labdev::ModelInfo* m = labdev::findModel(d.model());
    if (!m)
        fail(CKR_DEVICE_ERROR);
    return *m;
}

// The devices this module serves, by slot id.
std::map<CK_SLOT_ID, Device> familyDevices()
{
    std::map<CK_SLOT_ID, Device> out;
    fs::path dir = stateDir();
    if (dir.empty())
        return out;
    labdev::DeviceDirectory devices(dir);
    for (const auto& serial : devices.serials()) {
        try {
            Device d = devices.load(serial);
            const labdev::ModelInfo* m = labdev::findModel(d.model());
            long long slot = d.getInt(labdev::fact::SLOT, -1);
            if (m && m->family == family() && slot >= 0)
                out.emplace(static_cast<CK_SLOT_ID>(slot), std::move(d));
        } catch (const std::exception&) {
            // A device removed while listing, or damaged by hand: not a slot.
        }
    }
    return out;
}

Device slotDevice(CK_SLOT_ID slot)
{
    auto all = familyDevices();
    auto it = all.find(slot);
    if (it == all.end())
        fail(CKR_SLOT_ID_INVALID);
    return it->second;
}

labdev::DeviceDirectory directory()
{
    return labdev::DeviceDirectory(stateDir());
}

Session& session(CK_SESSION_HANDLE h)
{
    auto it = g.sessions.find(h);
    if (it == g.sessions.end())
        fail(CKR_SESSION_HANDLE_INVALID);
    return it->second;
}

// The session's token, still present.
Device liveDevice(const Session& s)
{
    try {
        Device d = directory().load(s.serial);
        if (!d.getBool(labdev::fact::PRESENT, true))
            fail(CKR_DEVICE_REMOVED);
        return d;
    } catch (const std::runtime_error&) {
        fail(CKR_DEVICE_REMOVED);
    }
}

// Changes the session's device under its exclusive lock.
void updateDevice(const Session& s, const std::function<void(Device&)>& change)
{
    try {
        directory().update(s.serial, [&](Device& d) {
            if (!d.getBool(labdev::fact::PRESENT, true))
                fail(CKR_DEVICE_REMOVED);
            change(d);
        });
    } catch (const std::runtime_error&) {
        fail(CKR_DEVICE_REMOVED);
    }
}

CK_USER_TYPE loginOf(const std::string& serial)
{
    auto it = g.logins.find(serial);
    return it == g.logins.end() ? ~0UL : it->second;
}

bool visible(const Attributes& a, const Session& s)
{
    return !boolAttr(a, CKA_PRIVATE, false) || loginOf(s.serial) == CKU_USER;
}

bool isRw(const Session& s)
{
    return (s.flags & CKF_RW_SESSION) != 0;
}

namespace
{
std::set<CK_ULONG> rejectedAttributes(const Device& d)
{
    std::set<CK_ULONG> out;
    std::string list = d.get(labdev::fact::REJECT_ATTRIBUTES);
    std::stringstream in(list);
    std::string item;
    while (std::getline(in, item, ','))
        if (!item.empty())
            out.insert(std::stoul(item, nullptr, 16));
    return out;
}
} // namespace

void checkRejected(const Device& d, const Attributes& a)
{
    for (CK_ULONG t : rejectedAttributes(d))
        if (a.count(t))
            fail(CKR_ATTRIBUTE_TYPE_INVALID);
}

void checkRoom(const Device& d, std::size_t newObjects)
{
    long long limit = d.getInt(labdev::fact::MAX_OBJECTS, 0);
    if (limit > 0 && d.objects.size() + newObjects > static_cast<std::size_t>(limit))
        fail(CKR_DEVICE_MEMORY);
}

FoundObject findObject(const Session& s, CK_OBJECT_HANDLE h)
{
    if (h >= FIRST_SESSION_OBJECT) {
        auto it = g.sessionObjects.find(h);
        if (it == g.sessionObjects.end() || it->second.serial != s.serial ||
            !visible(it->second.object.attributes, s))
            fail(CKR_OBJECT_HANDLE_INVALID);
        return {false, it->second.object.attributes};
    }
    Device d = liveDevice(s);
    TokenObject* o = d.findObject(h);
    if (!o || !visible(o->attributes, s))
        fail(CKR_OBJECT_HANDLE_INVALID);
    return {true, o->attributes};
}

void closeSession(CK_SESSION_HANDLE h)
{
    auto it = g.sessions.find(h);
    if (it == g.sessions.end())
        return;
    const std::string serial = it->second.serial;
    g.sessions.erase(it);
    for (auto o = g.sessionObjects.begin(); o != g.sessionObjects.end();)
        o = o->second.owner == h ? g.sessionObjects.erase(o) : std::next(o);
    bool last = std::none_of(g.sessions.begin(), g.sessions.end(),
                             [&](const auto& s) { return s.second.serial == serial; });
    if (last)
        g.logins.erase(serial);
}

CK_OBJECT_HANDLE storeSessionObject(CK_SESSION_HANDLE owner, const std::string& serial, Attributes a)
{
    CK_OBJECT_HANDLE h = g.nextSessionObject++;
    SessionObject o;
    o.owner = owner;
    o.serial = serial;
    o.object.handle = h;
    o.object.attributes = std::move(a);
    g.sessionObjects.emplace(h, std::move(o));
    return h;
}

// Stores new objects: token ones on the device in one locked update, the
// others as session objects. Returns the handles in order.
std::vector<CK_OBJECT_HANDLE> storeObjects(CK_SESSION_HANDLE h, const Session& s,
                                           std::vector<Attributes> objects)
{
    std::size_t onToken = 0;
    for (const auto& a : objects)
        if (boolAttr(a, CKA_TOKEN, false))
            ++onToken;
    if (onToken && !isRw(s))
        fail(CKR_SESSION_READ_ONLY);
    std::vector<CK_OBJECT_HANDLE> handles(objects.size());
    if (onToken) {
        updateDevice(s, [&](Device& d) {
            checkRoom(d, onToken);
            for (std::size_t i = 0; i < objects.size(); ++i)
                if (boolAttr(objects[i], CKA_TOKEN, false))
                    handles[i] = d.addObject(objects[i]);
        });
    } else {
        checkRoom(liveDevice(s), 0);
    }
    for (std::size_t i = 0; i < objects.size(); ++i)
        if (!boolAttr(objects[i], CKA_TOKEN, false))
            handles[i] = storeSessionObject(h, s.serial, std::move(objects[i]));
    return handles;
}

// Between the little-endian coordinates of the crypto and the order the
// device shows (both ways: reversing each half is its own inverse).
Bytes tokenOrder(const Device& d, Bytes value)
{
    if (d.get(labdev::fact::PUBLIC_KEY_ORDER, "little") == "big") {
        std::reverse(value.begin(), value.begin() + value.size() / 2);
        std::reverse(value.begin() + value.size() / 2, value.end());
    }
    return value;
}

} // namespace labtoken
