// Answers the message boxes of the test's own process with OK (or the button
// set) and records them, so that code under test that shows a box neither
// blocks the test nor goes unchecked: the harness's robot, watching this process.
#pragma once

#include "BoxRobot.h"

namespace fwtest
{
struct AnsweredBox
{
    std::wstring caption;
    std::wstring text;
};

class BoxAnswerer
{
public:
    BoxAnswerer();
    std::vector<AnsweredBox> Boxes();
    std::vector<std::string> Texts(); // the texts, in the ANSI code page
    // The button to press where a box has it (IDYES, IDNO, ...); IDOK otherwise.
    void SetButton(int id) { m_robot.AnswerAll(id); }

private:
    fwe2e::BoxRobot m_robot;
};
} // namespace fwtest
