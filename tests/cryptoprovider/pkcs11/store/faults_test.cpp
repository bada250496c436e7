// Each PKCS#11 call of a key change failing in turn: the change ends in a
// catalogue error (or succeeds, when only a call whose failure does not
// matter failed), and the token lists either the keys as they were or as
// the change leaves them, never a half-written record.
#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "base/error.h"
#include "store_fixture.h"

namespace
{

using namespace storelab;

// What a listing shows of one key, password data included.
struct KeyState {
    std::string alias;
    std::uint16_t systemId;
    std::uint64_t externalId;
    bool hasPassword;
    bytes passHash;
    bool operator==(const KeyState&) const = default;
};

std::ostream& operator<<(std::ostream& out, const KeyState& key)
{
    return out << key.alias << "/" << key.systemId << "/" << key.externalId << "/" << key.hasPassword << "/"
               << conv::bytes_to_hex(key.passHash);
}

struct Operation {
    const char* name;
    std::function<void(LabStore&, const std::shared_ptr<KeyRecord>&)> run;
};

class FaultTest : public StoreLab
{
  protected:
    // Sessions whose closing was made to fail are still open in the module:
    // close them before it is finalised.
    void TearDown() override
    {
        writeFaults("");
        module()->get()->C_CloseAllSessions(slotOf(SERIAL));
        StoreLab::TearDown();
    }

    // A fresh token holding "kept" and "changed" (password "old").
    std::shared_ptr<KeyRecord> reset()
    {
        writeFaults("");
        devices().remove(SERIAL);
        addDevice("rutoken-ecp-2", SERIAL);
        store = makeStore();
        store->setPin(PIN);
        create("kept", L"keep");
        return create("changed", L"old");
    }

    // The keys a fresh store lists, with the password hash on the token.
    std::vector<KeyState> listing()
    {
        const auto fresh = makeStore();
        fresh->setPin(PIN);
        std::vector<KeyState> state;
        for (const auto& [alias, key] : fresh->getKeysList()) {
            state.push_back({alias, key->systemId(), key->externalId(), key->hasPassword(),
                             container(pkcs11::key(key)->keyId()).passHash()});
        }
        return state;
    }

    // The functions the lab logged since `from` (a byte offset of the log).
    std::vector<std::string> callsSince(std::size_t from) const
    {
        std::istringstream lines(callLog().substr(from));
        std::vector<std::string> calls;
        std::string pid, family, function, rest;
        while (lines >> pid >> family >> function && std::getline(lines, rest))
            calls.push_back(function);
        return calls;
    }
};

TEST_F(FaultTest, EveryFailingCallLeavesTheOldOrTheNewRecords)
{
    const Operation operations[] = {
        {"create",
         [](LabStore& s, const auto&) { s.createNewKey("created", 3, GOST256, CRYPTOPRO_A, "", L"new"); }},
        {"rename", [](LabStore& s, const auto& key) { s.changeKeyAlias(key, "renamed"); }},
        {"set id", [](LabStore& s, const auto& key) { s.setKeyExternalId(key, 77); }},
        {"change password", [](LabStore& s, const auto& key) { s.changeKeyPass(key, L"new"); }},
        {"delete", [](LabStore& s, const auto& key) { s.deleteKey(key); }},
    };
    for (const Operation& operation : operations) {
        SCOPED_TRACE(operation.name);
        auto key = reset();
        const std::vector<KeyState> before = listing();
        const std::size_t mark = callLog().size();
        operation.run(*store, key);
        const std::vector<std::string> calls = callsSince(mark);
        const std::vector<KeyState> after = listing();
        ASSERT_NE(before, after);
        ASSERT_FALSE(calls.empty());

        std::map<std::string, int> seen;
        for (const std::string& function : calls) {
            const int nth = ++seen[function];
            SCOPED_TRACE(function + " #" + std::to_string(nth));
            key = reset();
            writeFaults(function + " nth " + std::to_string(nth) + " CKR_DEVICE_ERROR module=rutoken\n");
            bool failed = false;
            try {
                operation.run(*store, key);
            } catch (const bs::LookedUpError&) {
                failed = true;
            } catch (const bs::ComposedError&) {
                failed = true;
            } catch (const std::exception& error) {
                ADD_FAILURE() << "not a catalogue error: " << error.what();
                failed = true;
            }
            writeFaults("");
            std::vector<KeyState> state;
            ASSERT_NO_THROW(state = listing());
            if (failed)
                EXPECT_TRUE(state == before || state == after) << ::testing::PrintToString(state);
            else
                EXPECT_EQ(state, after);
        }
    }
}

} // namespace
