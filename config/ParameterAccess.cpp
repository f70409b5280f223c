#include "config/ParameterAccess.h"

#include "config/EntryCheck.h"

#include <algorithm>
#include <vector>

namespace quellon {

std::uint32_t ParameterAccess::Read(std::string_view readButton) {
    std::uint32_t value = 0;
    for (const ParameterRow* row : RowsByReadButton(readButton)) {
        const DisplayResult r = m_memory.Display(
            row->show, row->address, row->ScaleWith(analogueScale), row->multiplier, row->Limits());
        m_view.ShowRead(*row, r);
        m_lastReadOk = r.ok;
        if (row->field != J1939Field::None) {
            m_identity.Keep(row->field, static_cast<std::uint16_t>(r.ok ? r.value : 0));
        }
        value = r.value;
    }
    return value;
}

void ParameterAccess::Set(std::string_view setButton, std::span<const EntryInput> inputs) {
    const auto rows = RowsBySetButton(setButton);
    if (rows.empty() || rows.front()->followUp == FollowUp::FeatureSet) {
        return;
    }
    const ParameterRow& first = *rows.front();
    if (first.followUp == FollowUp::LedCommand) {
        if (!inputs.empty()) {
            m_memory.Link().SendCommand(LedCommandText(first, inputs.front().value));
        }
        return;
    }
    // Every value of the button is checked before any is written: a refused one leaves the
    // sensor untouched and the fields as typed.
    std::vector<std::uint16_t> words;
    for (std::size_t i = 0; i < rows.size() && i < inputs.size(); ++i) {
        const ParameterRow& row = *rows[i];
        const EntryInput& in = inputs[i];
        const EntryCheck check = in.spin
                                     ? CheckEntrySpin(row, in.value)
                                     : CheckEntryText(row, in.text, row.ScaleWith(analogueScale));
        if (check.word) {
            words.push_back(*check.word);
        } else {
            EntryResult e;
            e.refused = true;
            e.message = check.message;
            m_view.ShowEntry(row, e);
        }
    }
    if (words.size() != std::min(rows.size(), inputs.size())) {
        return;
    }
    for (std::size_t i = 0; i < words.size(); ++i) {
        m_view.ShowEntry(*rows[i], m_memory.Enter(rows[i]->address, words[i]));
    }
    FollowUp(first);
}

void ParameterAccess::FollowUp(const ParameterRow& row) {
    switch (row.followUp) {
    case FollowUp::ReReadReload:
        m_memory.Wait(20);
        Read(row.readButton);
        Reload();
        break;
    case FollowUp::Reload:
        m_memory.Wait(50);
        Reload();
        break;
    case FollowUp::ReReadPauseReload:
        m_memory.Wait(20);
        Read(row.readButton);
        m_memory.Wait(50);
        Reload();
        break;
    case FollowUp::Name:
        m_memory.Wait(20);
        Name();
        break;
    case FollowUp::NameReload:
        m_memory.Wait(20);
        Name();
        m_memory.Wait(50);
        Reload();
        break;
    case FollowUp::CanId:
        m_memory.Wait(20);
        CanId();
        break;
    case FollowUp::None:
    case FollowUp::LedCommand:
    case FollowUp::FeatureSet:
        break;
    }
}

void ParameterAccess::Reload() {
    const SingleCommandAction* reload = ActionByHandler("Button85Click");
    for (const ActionStep& step : reload->steps) {
        if (step.kind == ActionStepKind::Send) {
            m_memory.Link().SendCommand(step.text);
        } else if (step.kind == ActionStepKind::Wait) {
            m_memory.Wait(step.ms);
        }
    }
}

void ParameterAccess::Name() {
    m_memory.m_readall = true; // stays set: see the whole-configuration read
    m_memory.Timer().StopPoll();
    m_memory.Wait(50);
    m_view.HideProgress();
    for (const J1939Field f : NameReadOrder()) {
        Read(FieldInfo(f).readButton);
        m_view.StepProgress();
    }
    m_view.ShowComposite(kNameComposite, m_identity.NameText());
    m_view.HideProgress();
    m_memory.Timer().StartPoll();
}

void ParameterAccess::Pgn() {
    m_view.HideProgress();
    for (const J1939Field f : PgnReadOrder()) {
        m_memory.Wait(20);
        Read(FieldInfo(f).readButton);
        m_view.StepProgress();
    }
    m_view.ShowComposite(kPgnComposite, PgnText(m_identity.ComposePgn()));
    m_view.HideProgress();
}

void ParameterAccess::CanId() {
    m_memory.m_readall = true;
    m_memory.Timer().StopPoll();
    m_memory.Wait(50);
    m_view.HideProgress();
    Pgn();
    for (const J1939Field f : CanIdReadOrder()) {
        m_memory.Wait(20);
        Read(FieldInfo(f).readButton);
        m_view.StepProgress();
    }
    m_view.ShowComposite(kCanIdComposite, CanIdText(m_identity.CanId()));
    m_view.HideProgress();
    m_memory.Timer().StartPoll();
}

void ParameterAccess::RunRead(std::string_view button) {
    if (button == kNameComposite.button) {
        Name();
    } else if (button == kCanIdComposite.button) {
        CanId();
    } else if (button == kPgnComposite.button) {
        Pgn();
    } else {
        Read(button);
    }
}

} // namespace quellon
