#include "BoxAnswerer.h"

namespace fwtest
{
BoxAnswerer::BoxAnswerer()
{
    m_robot.AnswerAll(IDOK);
    m_robot.Attach(GetCurrentProcessId());
}

std::vector<AnsweredBox> BoxAnswerer::Boxes()
{
    std::vector<AnsweredBox> boxes;
    for (const fwe2e::BoxSeen& box : m_robot.Seen())
        boxes.push_back({fwe2e::FromUtf8(box.title), fwe2e::FromUtf8(box.text)});
    return boxes;
}

std::vector<std::string> BoxAnswerer::Texts()
{
    std::vector<std::string> texts;
    for (const AnsweredBox& box : Boxes())
    {
        char text[4096] = "";
        WideCharToMultiByte(CP_ACP, 0, box.text.c_str(), -1, text, sizeof(text), NULL, NULL);
        texts.push_back(text);
    }
    return texts;
}
} // namespace fwtest
