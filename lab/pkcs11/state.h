// The state of a lab token module: its sessions, logins and session objects
// (in the process), and the devices it serves (in the lab state directory,
// ORMID_LAB_DIR, re-read at every call under the device's file lock).
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "attributes.h"
#include "device/device.h"
#include "token_crypto.h"

namespace labtoken
{

using labdev::Device;
using labdev::TokenObject;

// Handles from here on are session objects; below, token objects.
constexpr CK_OBJECT_HANDLE FIRST_SESSION_OBJECT = 0x40000000UL;

// An active sign, verify or digest operation of a session. A digest one
// hashes its parts as they come (`running`); the others keep none. While a
// part is hashed outside the module lock the context is out of the session
// (`hashing`).
struct Operation {
    bool active = false;
    CK_MECHANISM_TYPE mechanism = 0;
    CK_OBJECT_HANDLE key = 0;
    int md = 0;
    RunningDigest running;
    bool hashing = false;
};

struct Session {
    CK_SLOT_ID slot = 0;
    std::string serial;
    CK_FLAGS flags = 0;
    bool findActive = false;
    std::vector<CK_OBJECT_HANDLE> found;
    std::size_t foundPos = 0;
    Operation sign, verify, digest;
};

struct SessionObject {
    CK_SESSION_HANDLE owner = 0;
    std::string serial;
    TokenObject object;
};

struct ModuleState {
    bool initialized = false;
    std::map<CK_SESSION_HANDLE, Session> sessions;
    CK_SESSION_HANDLE nextSession = 1;
    std::map<std::string, CK_USER_TYPE> logins; // by device serial
    std::map<CK_OBJECT_HANDLE, SessionObject> sessionObjects;
    CK_OBJECT_HANDLE nextSessionObject = FIRST_SESSION_OBJECT;
};

// The module state, only touched under g_mutex (every exported call takes it).
// Neither is ever destroyed: a user of the module may still call in (close
// a session, finalise) from its own static destructors after this library's
// have run at process exit.
extern std::mutex& g_mutex;
extern ModuleState& g;
// The lock of the token in `slot` under the latency model (calls.h): held
// around a call's delay and the call, before g_mutex, never after it.
std::mutex& tokenMutex(CK_SLOT_ID slot);

std::string family();
// The lab state directory, empty when ORMID_LAB_DIR is not set.
std::filesystem::path stateDir();
labdev::DeviceDirectory directory();

// The model of a device (CKR_DEVICE_ERROR for one the lab does not know).
const labdev::ModelInfo& modelOf(const Device& d);
// The devices this module serves, by slot id.
std::map<CK_SLOT_ID, Device> familyDevices();
// The device in a slot (CKR_SLOT_ID_INVALID when none).
Device slotDevice(CK_SLOT_ID slot);

// An open session (CKR_SESSION_HANDLE_INVALID when not).
Session& session(CK_SESSION_HANDLE h);
// The session's token, still present (CKR_DEVICE_REMOVED when not).
Device liveDevice(const Session& s);
// Changes the session's device under its exclusive lock.
void updateDevice(const Session& s, const std::function<void(Device&)>& change);
void closeSession(CK_SESSION_HANDLE h);

// Who is logged in to a token: CKU_SO, CKU_USER or ~0 for nobody.
CK_USER_TYPE loginOf(const std::string& serial);
bool visible(const Attributes& a, const Session& s);
bool isRw(const Session& s);

// CKR_ATTRIBUTE_TYPE_INVALID for a type the device's reject-attributes fact names.
void checkRejected(const Device& d, const Attributes& a);
// CKR_DEVICE_MEMORY when `newObjects` more exceed the device's max-objects.
void checkRoom(const Device& d, std::size_t newObjects);

// An object of the session's token or a session object, as a copy.
struct FoundObject {
    bool onToken = false;
    Attributes attributes;
};
// CKR_OBJECT_HANDLE_INVALID for objects of other tokens or private ones
// while the user is not logged in.
FoundObject findObject(const Session& s, CK_OBJECT_HANDLE h);

CK_OBJECT_HANDLE storeSessionObject(CK_SESSION_HANDLE owner, const std::string& serial, Attributes a);
// Stores new objects: token ones on the device in one locked update (a
// read-write session and room needed), the others as session objects.
// Returns the handles in order.
std::vector<CK_OBJECT_HANDLE> storeObjects(CK_SESSION_HANDLE h, const Session& s,
                                           std::vector<Attributes> objects);

// Between the little-endian coordinates of the crypto and the order the
// device shows (both ways: reversing each half is its own inverse).
Bytes tokenOrder(const Device& d, Bytes value);

} // namespace labtoken
