// Shared by the remote channel's unit tests: a fresh log directory per test,
// events and entries built from a few members, and the fake library's controls.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/event/DXAEvent.h"
#include "platform/event/EventCodec.h"
#include "platform/event/EventDBEntry.h"
#include "tests/remote/FakeQob.h"

class RemoteTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Texts of the lines written to "trace.log" or "platform.log", without their prefixes.
    std::vector<std::string> lines(const std::string& file) const;

    // A FAULT event with every member the channel reads, less `dropped`, with `changed` replaced.
    static std::unique_ptr<DXAEvent> event(
        std::vector<orv::event::Member> changed = {}, std::vector<std::string> dropped = {});
    static std::vector<char> packed(const std::vector<orv::event::Member>& changed = {});

    // An alarm entry of severity 5, priority 1 and subtype "fault".
    static EventDBEntry::Fields entryFields();

    // The fake library's state, loading the library if nobody has yet; null
    // when it is not there.
    static FakeQobState* fake();

    std::string m_dir;
};
