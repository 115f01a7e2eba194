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
        "-y,--yes", [this] { m_existing = "overwrite"; }, "The same as --existing overwrite");
    // -n as cp and mv have it: an existing file is kept, and the rest go on.
    auto* noClobber = command.add_flag_callback(
        "-n,--no-clobber", [this] { m_existing = "skip"; }, "The same as --existing skip");
    auto* no = command.add_flag_callback(
        "--no", [this] { m_existing = "stop"; }, "The same as --existing stop");
    yes->excludes(noClobber)->excludes(no)->excludes(existing);
    noClobber->excludes(no)->excludes(existing);
    no->excludes(existing);
}

Answer ExistingFilePolicy::answer(const std::string& name, const OverwritePrompt& prompt,
                                  const std::string& comparison)
{
    if (m_existing == "overwrite")
        return Answer::Yes;
    if (m_existing == "skip")
        return Answer::Skip;
    if (m_existing == "stop")
        return Answer::No;
    const Answer answer = prompt.ask(name, comparison);
    if (answer == Answer::YesToAll)
        m_existing = "overwrite";
    return answer;
}
