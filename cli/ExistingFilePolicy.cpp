#include "ExistingFilePolicy.h"

using Answer = RepairJob::Answer;

ExistingFilePolicy::ExistingFilePolicy(CLI::App& command)
{
    auto* existing =
        command
            .add_option("--existing", m_existing,
                        "A file of that name in the destination: ask (the default), overwrite, "
                        "skip, or stop")
            ->type_name("WHAT")
            ->check(CLI::IsMember({"ask", "overwrite", "skip", "stop"}));
    auto* yes = command.add_flag_callback(
        "--yes", [this] { m_existing = "overwrite"; }, "The same as --existing overwrite");
    auto* no = command.add_flag_callback(
        "--no", [this] { m_existing = "stop"; }, "The same as --existing stop");
    yes->excludes(no)->excludes(existing);
    no->excludes(existing);
}

Answer ExistingFilePolicy::answer(const std::string& name, const OverwritePrompt& prompt)
{
    if (m_existing == "overwrite")
        return Answer::Yes;
    if (m_existing == "skip")
        return Answer::Skip;
    if (m_existing == "stop")
        return Answer::No;
    const Answer answer = prompt.ask(name);
    if (answer == Answer::YesToAll)
        m_existing = "overwrite";
    return answer;
}
