#pragma once

#include "FormatEvidence.h"

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// The takes a batch's sources hold, each with the place its copy takes under
// the destination, so that a card's tree is kept: a copy goes to the
// destination plus the take's path relative to the root, the deepest folder
// that every source given shares (a folder given alone is its own root, so
// that the files of one folder land flat). Both front ends expand what the
// user gave with it; it only reads names and, in folders, the first bytes of
// each file; the format chunks of a folder's takes are read when a take of it
// first asks for its card's other takes.
struct TakeList
{
    struct Take
    {
        std::filesystem::path source;   // as given, or as found under a folder given
        std::filesystem::path relative; // where its copy goes, under the destination
        std::filesystem::path folder;   // the folder it lies in, absolute
    };
    // A file that is no take, and why in plain words ("a macOS AppleDouble
    // file", "not a WAVE file", "not a .wav file").
    struct PassedOver
    {
        std::filesystem::path path;
        std::string why;
        bool bNamed = false; // named by the user, not found in a folder
    };

    // What a file named one by one must be to be a take.
    enum class Named
    {
        WavOnly, // its name ends in ".wav" (any letter case)
        Any,     // whatever it is
    };

    // sources: files and folders as the user gave them. A folder is walked
    // through its subfolders (links to folders are not followed), its files
    // in name order, and a file in it is a take when its content says so (a
    // RIFF, RF64 or BW64 WAVE file, whatever its name) and its name does not
    // start with "._"; a file named one by one is a take as named says,
    // whether or not it can be read, so that the job says why it fails. A file reached twice (a
    // folder and a file in it, the same folder twice) is taken once; no two takes share a relative
    // path.
    static TakeList Of(const std::vector<std::filesystem::path>& sources, Named named);

    // Why copies cannot go into destination, in words for the user: it is a
    // folder a take comes from, or lies inside a folder given, whose next walk
    // would take the copies for sources. "" when they can.
    std::string DestinationRefusal(const std::filesystem::path& destination) const;

    // The takes listed from the folder take lies in whose format chunk is
    // intact, with what it states: evidence for a take of the card whose
    // format chunk was lost. The folder's takes are read at the first call of
    // any of its takes' sources, once, on whichever thread calls; the source
    // holds on to this list, which must outlive it.
    FormatEvidence::CardTakeSource CardTakes(const Take& take) const;

    std::filesystem::path root; // absolute; empty when nothing was given
    std::vector<Take> takes;
    std::vector<PassedOver> passedOver;
    std::vector<std::filesystem::path> folders; // the folders given, absolute

private:
    // The intact takes of each folder (absolute) read so far, shared by the
    // list's copies.
    struct IntactTakes
    {
        std::mutex mutex;
        std::map<std::filesystem::path, std::vector<FormatEvidence::CardTake>> byFolder;
    };
    std::shared_ptr<IntactTakes> m_intact = std::make_shared<IntactTakes>();
};
