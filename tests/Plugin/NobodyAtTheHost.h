// The prompts of a run that nobody watches: a test that stands in for an absent user.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>

#include "platform/host/Host.h"

namespace kesto_test {

// Nobody sits at the host: an alert in a run that nobody watches would wait for ever, so any
// alert fails the test. The notice that ends a folder command may be allowed, since the user who
// chose the command is there at its end. Other prompts get what a user who only confirms answers.
// With unattended given, somebody is there except while it answers true (the module runs a
// folder command, a batch or the server): only an alert that opens then fails the test.
class NobodyAtTheHost : public xthost::Answerer {
public:
    explicit NobodyAtTheHost(bool allowFinishedNotice = false, std::function<bool()> unattended = nullptr)
        : m_allowNotice(allowFinishedNotice), m_unattended(std::move(unattended))
    {
    }

    bool Respond(const xthost::Prompt& prompt, xthost::Answer& answer, std::string& error) override
    {
        if ((prompt.kind != xthost::Prompt::kAlert && prompt.kind != xthost::Prompt::kHostAlert) ||
            (m_unattended && !m_unattended()))
            return m_user.Respond(prompt, answer, error);
        if (m_allowNotice && prompt.kind == xthost::Prompt::kAlert && Says(prompt, "Conversion finished.")) {
            answer.kind = xthost::Answer::kPress;
            answer.item = 1;
            return true;
        }
        ADD_FAILURE() << "an alert waits for a user: " << xthost::PromptKindName(prompt.kind) << " \""
                      << prompt.title << "\"";
        error = "an alert in a run that nobody watches";
        return false;
    }

private:
    static bool Says(const xthost::Prompt& prompt, const std::string& text)
    {
        if (prompt.dialog)
            for (const xthost::DialogItem& item : prompt.dialog->items)
                if (item.text.find(text) != std::string::npos)
                    return true;
        return false;
    }

    bool m_allowNotice;
    std::function<bool()> m_unattended;
    xthost::AutoAnswerer m_user;
};

} // namespace kesto_test
