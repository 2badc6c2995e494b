// Prints docs/machines.md: the controller's system, calibration and
// acquisition machines drawn from the tables the controller runs on
// (control/StateMachines.cpp), as Mermaid diagrams and tables.
//
//   build/bin/tesselink-machines > docs/machines.md

#include "control/StateMachines.h"

#include <iostream>
#include <string>

using namespace tl::machines;

namespace {

std::string calName(int state) { return calibrationStepName(state); }

std::string threadName(int state) { return threadStateName(state); }

std::string orDash(int state, std::string (*name)(int))
{
    return state == kNone ? std::string("-") : name(state);
}

void systemMachine(std::ostream &out)
{
    out << "## System machine (`systemStateChange`)\n\n"
        << "Every system state is a request of the user or the operating system. Its row says what it does and\n"
        << "which calibration state (`systemStateCalbrationChange`) or acquisition state (`threadStateChange`)\n"
        << "it leads to; \"next module\" rows act on the module after the one they are given.\n\n"
        << "| value | state | action | calibration state | acquisition state |\n"
        << "|---|---|---|---|---|\n";
    for (const SystemRow &row : systemRows()) {
        out << "| " << row.state << " | `" << row.name << "` | " << actionName(row.action)
            << (row.nextModule ? ", next module" : "") << " | " << orDash(row.calState, calName) << " | "
            << orDash(row.threadState, threadName) << " |\n";
    }
    out << "\n```mermaid\nflowchart LR\n";
    for (const SystemRow &row : systemRows()) {
        if (row.calState == kNone && row.threadState == kNone)
            continue;
        const std::string target = row.calState != kNone ? "cal_" + calName(row.calState)
                                                         : "eta_" + threadName(row.threadState);
        out << "    " << row.name << " -->|" << actionName(row.action) << (row.nextModule ? ", next module" : "")
            << "| " << target << "\n";
    }
    for (const CalibrationStateRow &row : calibrationStates()) {
        if (row.threadState == kNone)
            continue;
        out << "    cal_" << row.name << "[\"" << row.state << " " << row.name << "\"] --> eta_"
            << threadName(row.threadState) << "\n";
    }
    for (const ThreadRow &row : threadRows()) {
        if (row.action != ThreadAction::None || row.state == etaNULL)
            out << "    eta_" << row.name << "[\"" << row.state << " " << row.name << "\"]\n";
    }
    out << "```\n\n";
}

void calibrationMachine(std::ostream &out)
{
    out << "## Calibration machine (`systemStateCalbrationChange` and the calibration steps)\n\n"
        << "A run goes module by module: module 0, then module 1 when two are connected. A state takes only the\n"
        << "events drawn from it; any other event leaves it waiting. `StopDevice`, Escape or a closed calibration\n"
        << "window end a run from any state in `ecsIDLE_CALIBRATION`. The log line of\n"
        << "`systemStateCalbrationChange` prints \"INVALID\" for the intermediate steps (values 2, 3, 5, 7, 9, 10);\n"
        << "the line of each step (\"nqmaincontrol: calibration ... -> ...\") prints the names below.\n\n"
        << "```mermaid\nstateDiagram-v2\n";
    for (const CalibrationStateRow &row : calibrationStates())
        out << "    state \"" << row.state << " " << row.name << "\" as " << row.name << "\n";
    out << "    state \"StopOrNextCalibration: the next module, or the end\" as StopOrNextCalibration\n"
        << "    [*] --> ecsIDLE_CALIBRATION\n";
    for (const SystemRow &row : systemRows()) {
        if (row.action != SystemAction::CalibrationStart && row.action != SystemAction::CalibrationRow)
            continue;
        out << "    " << (row.nextModule ? "StopOrNextCalibration" : "ecsIDLE_CALIBRATION") << " --> "
            << calName(row.calState) << " : " << row.name << "\n";
    }
    for (const CalibrationTransition &step : calibrationTransitions()) {
        out << "    " << calName(step.from) << " --> " << calName(step.to) << " : " << eventName(step.event) << " / "
            << actionName(step.action) << "\n";
        if (step.orElse != kNone)
            out << "    " << calName(step.from) << " --> " << calName(step.orElse) << " : " << eventName(step.event)
                << (step.action == CalibrationAction::NextTarget ? " (last target)" : " (fit failed)") << "\n";
    }
    out << "    StopOrNextCalibration --> ecsIDLE_CALIBRATION : last module\n"
        << "```\n\n"
        << "| value | state | log name | meaning |\n|---|---|---|---|\n";
    for (const CalibrationStateRow &row : calibrationStates())
        out << "| " << row.state << " | `" << row.name << "` | " << calibrationStateName(row.state) << " | "
            << row.meaning << " |\n";
    out << "\n";
}

void threadMachine(std::ostream &out)
{
    out << "## Acquisition machine (`threadStateChange`)\n\n"
        << "Every change first stops the modules (`StopDevice`, `etaNULL`); the requested state then starts.\n\n"
        << "```mermaid\nstateDiagram-v2\n    direction LR\n";
    for (const ThreadRow &row : threadRows())
        out << "    state \"" << row.state << " " << row.name << "\" as " << row.name << "\n";
    out << "    [*] --> etaNULL\n";
    for (const ThreadRow &row : threadRows()) {
        if (row.action == ThreadAction::None)
            continue;
        out << "    etaNULL --> " << row.name << " : " << actionName(row.action) << "\n"
            << "    " << row.name << " --> etaNULL : StopDevice\n";
    }
    out << "```\n\n| value | state | how it starts | calibration state | meaning |\n|---|---|---|---|---|\n";
    for (const ThreadRow &row : threadRows()) {
        out << "| " << row.state << " | `" << row.name << "` | " << actionName(row.action) << " | "
            << orDash(row.calState, calName) << " | " << row.meaning << " |\n";
    }
}

} // namespace

int main()
{
    std::ostream &out = std::cout;
    out << "<!-- Generated from control/StateMachines.cpp by tools/machines: "
           "build/bin/tesselink-machines > docs/machines.md -->\n\n"
        << "# The controller's state machines\n\n"
        << "The controller runs on these tables: `systemStateChange`, `systemStateCalbrationChange`,\n"
        << "`threadStateChange` and the calibration steps look up their row in control/StateMachines.cpp.\n"
        << "The values are fixed; the log prints the names shown.\n\n";
    systemMachine(out);
    calibrationMachine(out);
    threadMachine(out);
    return 0;
}
