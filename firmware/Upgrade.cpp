#include "firmware/Upgrade.h"

#include "serial/Discovery.h"

namespace quellon {

namespace {

// Sets the line's speed and waits for the line to settle; false, with a line in the trace,
// when the port (or the device server behind it) does not take the speed.
bool SetLineSpeed(UpgradeEnvironment& env, int baud, int settleMs) {
    bool ok = true;
    if (TCommsThread* channel = env.exchange.Ports().SensorChannel()) {
        ok = channel->SetBaudRate(baud);
        if (!ok) {
            env.exchange.Ports().debugLog.Write("\n%s: the port refused %d baud",
                                                env.exchange.Ports().SensorPortName().c_str(),
                                                baud);
        }
    }
    WaitMs(settleMs);
    return ok;
}

// Whether the port takes the bootloader's speed, tried while the sensor still runs its
// application and nothing is on the line: the line is back at the application's speed after.
bool BootloaderSpeedTaken(UpgradeEnvironment& env) {
    // A port that has gone refuses nothing: the step fails on it with its own message.
    TCommsThread* channel = env.exchange.Ports().SensorChannel();
    if (!channel || env.exchange.LinkGone()) {
        return true;
    }
    const bool taken = channel->SetBaudRate(kBootloaderBaud);
    if (!channel->SetBaudRate(kApplicationBaud) || !taken) {
        if (env.exchange.LinkGone()) {
            return true;
        }
        env.exchange.Ports().debugLog.Write("\n%s: the port refused %d baud",
                                            env.exchange.Ports().SensorPortName().c_str(),
                                            taken ? kApplicationBaud : kBootloaderBaud);
        return false;
    }
    return true;
}

void SpeedRefused(UpgradeEnvironment& env) {
    env.exchange.Ports().debugLog.Write("\nUpgrade failed: %s", kSpeedRefused);
    env.prompts.Message("Error", kSpeedRefused, PromptButtons::Ok,
                        env.exchange.Ports().SensorPortName());
}

void Fail(UpgradeEnvironment& env, const char* text, const std::string& details = {}) {
    env.exchange.Ports().debugLog.Write("\nUpgrade failed: %s", text);
    env.prompts.Message("Error", text, PromptButtons::Ok, details);
}

// The bootloader speaks at 57600 baud: a raw TCP port, whose speed the device server fixes,
// cannot reach it. Says so before anything is asked or sent.
bool SpeedCanChange(UpgradeEnvironment& env) {
    const PortTable& ports = env.exchange.Ports();
    const TCommsThread* channel = ports.SensorChannel();
    if (!channel || channel->CanChangeSpeed()) {
        return true;
    }
    const std::string name = ports.SensorPortName();
    env.exchange.Ports().debugLog.Write("\n%s: a raw TCP port cannot reach the bootloader",
                                        name.c_str());
    env.prompts.Message("Error", kFixedSpeedPort, PromptButtons::Ok, name);
    return false;
}

// Checks the open file whole; on a refusal closes it and says why.
bool Check(UpgradeEnvironment& env, HexCheck& check) {
    check = CheckHexFile(env.file);
    if (!check.ok) {
        env.exchange.Ports().debugLog.Write("\nHex file %s refused: %s", env.file.Path().c_str(),
                                            check.problem.c_str());
        env.file.Close();
        env.prompts.Message("Error", "Cannot import hex file", PromptButtons::Ok, check.problem);
        return false;
    }
    env.exchange.Ports().debugLog.Write("\nHex file %s: %d records, %d data records",
                                        env.file.Path().c_str(), check.records, check.dataRecords);
    return true;
}

// Asks for the file, opens it and checks it whole: Programmed stands for "ready".
UpgradeResult OpenAndCheck(UpgradeEnvironment& env, bool tellCancel, HexCheck& check) {
    if (!OpenHexFile(env.file, env.prompts)) {
        if (tellCancel) {
            env.prompts.Message("Error", "Firmware upgrade cancelled", PromptButtons::Ok);
        }
        return UpgradeResult::Cancelled;
    }
    if (!env.file.Rewind()) {
        env.file.Close();
        env.prompts.Message("Error", "Cannot import hex file", PromptButtons::Ok);
        return UpgradeResult::BadFile;
    }
    return Check(env, check) ? UpgradeResult::Programmed : UpgradeResult::BadFile;
}

void MarkErased(UpgradeEnvironment& env, bool erased) {
    if (env.applicationErased) {
        *env.applicationErased = erased;
    }
}

} // namespace

const char* UpgradeResultName(UpgradeResult result) {
    switch (result) {
    case UpgradeResult::Cancelled:
        return "cancelled";
    case UpgradeResult::BadFile:
        return "bad file";
    case UpgradeResult::BackupDeclined:
        return "backup declined";
    case UpgradeResult::SpeedRefused:
        return "speed refused";
    case UpgradeResult::NoBootloader:
        return "no bootloader";
    case UpgradeResult::EraseFailed:
        return "erase failed";
    case UpgradeResult::ProgramFailed:
        return "program failed";
    case UpgradeResult::VerifyFailed:
        return "verify failed";
    case UpgradeResult::NoApplication:
        return "no application";
    case UpgradeResult::Programmed:
        return "programmed";
    }
    return "?";
}

bool ApplicationRunsAfter(UpgradeResult result) {
    switch (result) {
    case UpgradeResult::Cancelled:
    case UpgradeResult::BadFile:
    case UpgradeResult::BackupDeclined:
    case UpgradeResult::SpeedRefused:
    case UpgradeResult::Programmed:
        return true;
    case UpgradeResult::NoBootloader:
    case UpgradeResult::EraseFailed:
    case UpgradeResult::ProgramFailed:
    case UpgradeResult::VerifyFailed:
    case UpgradeResult::NoApplication:
        break;
    }
    return false;
}

bool ApplicationRunsAfter(BootloaderStep step, StepOutcome outcome) {
    switch (outcome) {
    case StepOutcome::NothingSent:
    case StepOutcome::InApplication:
        return true;
    case StepOutcome::NoApplication:
    case StepOutcome::Failed:
        return false;
    case StepOutcome::Done:
        break;
    }
    return step == BootloaderStep::Run;
}

UpgradeResult SensorUpgrade(UpgradeEnvironment& env) {
    TraceLog& trace = env.exchange.Ports().debugLog;
    env.file.Close(); // a file a single step left open
    if (!SpeedCanChange(env)) {
        return UpgradeResult::BadFile;
    }
    HexCheck check;
    if (const UpgradeResult ready = OpenAndCheck(env, true, check);
        ready != UpgradeResult::Programmed) {
        return ready;
    }

    env.poll.StopPoll();
    WaitMs(100);
    if (env.clearDisplay) {
        env.clearDisplay();
    }

    const auto giveBack = [&env] {
        env.file.Close();
        if (env.resetFailures) {
            env.resetFailures();
        }
        env.poll.StartPoll();
    };
    std::string backupPath;
    const bool inApplication = IdentifySensor(env.exchange, 5, env.setTitle);
    if (inApplication) {
        if (!BootloaderSpeedTaken(env)) {
            SpeedRefused(env);
            giveBack();
            return UpgradeResult::SpeedRefused;
        }
        // The sensor runs its application: keep its settings before they are at risk.
        if (env.backup) {
            std::string pathOrError;
            if (env.backup(pathOrError)) {
                backupPath = pathOrError;
                trace.Write("\nConfiguration backup %s", backupPath.c_str());
            } else {
                trace.Write("\nConfiguration backup failed: %s", pathOrError.c_str());
                if (env.prompts.Message("Confirmation",
                                        "The configuration could not be backed up. Continue "
                                        "with the upgrade?",
                                        PromptButtons::YesNo, pathOrError) != PromptAnswer::Yes) {
                    giveBack();
                    return UpgradeResult::BackupDeclined;
                }
            }
        }
        env.exchange.UnlockSensor();
        env.exchange.RebootSensor();
    }

    const bool atSpeed = SetLineSpeed(env, kBootloaderBaud, 100);
    Bootloader boot(env.exchange, env.file, env.image);
    const auto programErased = [&] {
        MarkErased(env, true);
        return boot.ProgramApplication(check.records);
    };
    UpgradeResult result = UpgradeResult::Programmed;
    if (!atSpeed && !inApplication && !env.exchange.LinkGone()) {
        // A sensor that did not answer in its application was sent nothing: it is where it
        // was. One that was rebooted (or a port that went) meets the bootloader's silence.
        result = UpgradeResult::SpeedRefused;
        SpeedRefused(env);
    } else if (!boot.ReadBootloaderVersion()) {
        result = UpgradeResult::NoBootloader;
        Fail(env, "Cannot read Bootloader version");
    } else if (!boot.EraseApplication()) {
        result = UpgradeResult::EraseFailed;
        Fail(env, "Cannot erase application", kLeftInBootloader);
    } else if (!programErased()) {
        result = UpgradeResult::ProgramFailed;
        Fail(env, "Cannot program application", kLeftInBootloader);
    } else if (!boot.VerifyApplication()) {
        result = UpgradeResult::VerifyFailed;
        Fail(env, "Cannot verify application", kLeftInBootloader);
    } else {
        MarkErased(env, false);
        boot.RunApplication();
        trace.Write("\nUpgrade: %d blocks, image %06x-%06x, crc %04x", boot.BlocksSent(),
                    static_cast<unsigned>(boot.LastExtent().start),
                    static_cast<unsigned>(boot.LastExtent().end), boot.LastExtent().crc);
        const std::string backupDetails =
            backupPath.empty() ? std::string() : "Configuration backup: " + backupPath;
        // The new firmware is identified before the outcome is told: an image without a
        // valid application starts as 255.255, which is no success.
        SetLineSpeed(env, kApplicationBaud, 10);
        const bool identified = IdentifySensor(env.exchange, 5, env.setTitle);
        const PortTable& ports = env.exchange.Ports();
        if (identified && ports.firmwareNumber == 0xff && ports.firmwareRevision == 0xff) {
            result = UpgradeResult::NoApplication;
            Fail(env, kNoValidApplication,
                 backupDetails.empty()
                     ? std::string(kNoValidApplicationDetails)
                     : std::string(kNoValidApplicationDetails) + "\n" + backupDetails);
        } else {
            env.prompts.Message("Success", "Application programmed", PromptButtons::Ok,
                                backupDetails);
            if (env.resetFailures) {
                env.resetFailures();
            }
            env.poll.StartPoll();
        }
    }
    SetLineSpeed(env, kApplicationBaud, 10);
    env.file.Close();
    return result;
}

StepOutcome RunBootloaderStep(UpgradeEnvironment& env, BootloaderStep step) {
    static const char* const kNames[] = {"Version", "Erase", "Program", "Run", "Read Crc"};
    const char* name = kNames[static_cast<int>(step)];
    if (!SpeedCanChange(env)) {
        return StepOutcome::NothingSent;
    }
    HexCheck check;
    const bool needsFile = step == BootloaderStep::Program || step == BootloaderStep::ReadCrc;
    if (needsFile) {
        // The file an earlier step opened is checked again: it may have changed since.
        const bool ready = env.file.IsOpen()
                               ? Check(env, check)
                               : OpenAndCheck(env, false, check) == UpgradeResult::Programmed;
        if (!ready) {
            return StepOutcome::NothingSent;
        }
    }
    // Tried with nothing on the line and no poll able to run (this blocks the window), so
    // that a refused speed leaves the sensor and the poll as they were.
    if (!BootloaderSpeedTaken(env)) {
        SpeedRefused(env);
        return StepOutcome::NothingSent;
    }
    env.poll.StopPoll();
    bool ok = SetLineSpeed(env, kBootloaderBaud, 100);
    Bootloader boot(env.exchange, env.file, env.image);
    const bool erased = env.applicationErased && *env.applicationErased;
    switch (ok ? step : BootloaderStep::Run) {
    case BootloaderStep::Version:
        ok = boot.ReadBootloaderVersion();
        break;
    case BootloaderStep::Erase:
        ok = boot.EraseApplication();
        if (ok) {
            MarkErased(env, true);
        }
        break;
    case BootloaderStep::Program:
        ok = boot.ProgramApplication(check.records);
        if (ok) {
            MarkErased(env, false);
        }
        break;
    case BootloaderStep::Run:
        if (ok) {
            boot.RunApplication();
        }
        break;
    case BootloaderStep::ReadCrc:
        ok = boot.VerifyApplication();
        break;
    }
    SetLineSpeed(env, kApplicationBaud, 10);
    TraceLog& trace = env.exchange.Ports().debugLog;
    const auto pollAgain = [&env] {
        if (env.resetFailures) {
            env.resetFailures();
        }
        env.poll.StartPoll();
    };
    if (step == BootloaderStep::Run && ok && erased) {
        // The bootloader refuses to start what it does not hold: it stays where it is.
        trace.Write("\nBootloader Run: no application to start: the sensor stays in its "
                    "bootloader");
        env.prompts.Message("Error", kNoApplicationToStart, PromptButtons::Ok,
                            kNoApplicationToStartDetails);
        return StepOutcome::NoApplication;
    }
    if (!ok && step != BootloaderStep::Run && !env.exchange.LinkGone() &&
        IdentifySensor(env.exchange, 1, env.setTitle)) {
        // The request never reached a bootloader: the sensor still runs its application.
        trace.Write("\nBootloader %s: failed: the sensor runs its application", name);
        env.prompts.Message("Error", kStepNeedsBootloader, PromptButtons::Ok,
                            std::string("Bootloader > ") + name);
        pollAgain();
        return StepOutcome::InApplication;
    }
    trace.Write("\nBootloader %s: %s", name, ok ? "ok" : "failed");
    if (step == BootloaderStep::Run) {
        pollAgain();
    }
    return ok ? StepOutcome::Done : StepOutcome::Failed;
}

bool EnterBootloaderMode(UpgradeEnvironment& env, bool pollWasRunning) {
    env.poll.StopPoll(); // no poll between the identification and the reboot
    if (!IdentifySensor(env.exchange, 1, env.setTitle)) {
        if (pollWasRunning) {
            env.poll.StartPoll();
        }
        return false;
    }
    env.exchange.RebootSensor();
    env.exchange.Ports().debugLog.Write("\nBootloader Mode: rebooted into the bootloader");
    return true;
}

} // namespace quellon
