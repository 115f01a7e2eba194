#pragma once

#include "CardImage.h"
#include "FormatEvidence.h"
#include "WavFormat.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Finds the takes a card holds and follows the lost ones as their recorder
// wrote them. A take begins at a cluster that starts with a RIFF, RF64 or BW64
// WAVE header and that a directory entry, live or deleted, names as its
// first, or that is free and named by none (a card formatted since, an entry
// lost). It is lost when the entry records nothing or less than the header (a
// power cut before the recorder closed the file), or has none, and also when
// header and entry agree but audio that continues the take follows what they
// state (a recorder that wrote both at a flush, then lost its power); it is
// intact when neither. The sizes in a lost take's header prove nothing,
// except that a take followed to zeros just behind the size its header
// states ends there (one its recorder closed, on a card formatted since).
//
// Audio that no take holds and that follows none (a take whose header cluster
// a newer take overwrote) is a take of its own, a run of the free clusters no
// take, header or deleted take's extent claims, in ascending order, from the
// first one to the end of its samples. It is written only when the card's
// other takes settle one format, as they do for a file that lost its format
// chunk, and its audio read at one frame start agrees with it; otherwise it is
// listed with the reason.
//
// A take is followed through the chain its entry still has, as far as the
// entry's size (a checker's file for a recovered chain: all its clusters but
// the last, which may hold less), then on through the rest of that cluster and the clusters
// that are free now in ascending order, as the recorder's allocator took
// them; clusters of live files are skipped. Every free cluster goes to the
// open take whose audio it continues: where the line through the take's last
// two frames and the line through the block's first two meet, a block that
// continues the take puts the value and slope about where the take's own
// samples would, while another recording's audio jumps, by far more than the
// take's samples just moved. Among takes recorded at once, the block's own
// steps, read in each take's frames, weigh in as well: in another take's
// frames they mix channels and voices and move by far more, or less, than
// the take's did. Takes end where the next cluster starts another take's
// header, where the space is zeroed, or where the samples stop continuing
// every open take; a cluster the recorder wrote in part, over zeroed space or
// over older audio, ends at its last sector that continues the take.
class TakeFinder
{
public:
    struct Take
    {
        std::string path; // of its entry on the card; "" when none names it
        // Its entry is a checker's for a chain no entry named (chkdsk's
        // FOUND.000/FILE0000.CHK, fsck.vfat's FSCK0000.REC, fsck.exfat's
        // LOST+FOUND/FILE0000000.CHK), sized to the chain's clusters, which
        // says nothing of how much of the last one was written.
        bool bRecoveredChain = false;
        // Audio whose header cluster a newer take overwrote: no entry or header
        // names it; its format is the card's other takes', which its audio
        // agrees with, and its audio begins nAudioOffset bytes into its first
        // cluster, at a frame's start. A new header goes in front of it.
        bool bHeaderless = false;
        std::string formatFrom; // where a headerless take's format came from, in words
        uint64_t nHeaderCluster = 0;
        bool bIntact = false;
        WavFormat format;
        uint64_t nAudioOffset = 0; // where the audio begins in the take
        // A reason the take cannot be followed or written ("its header has no
        // format chunk"); "" when it can.
        std::string problem;
        std::vector<uint64_t> clusters; // in the order of the take's bytes
        uint64_t nLength = 0;           // bytes of the take; the last cluster may hold fewer
        uint64_t nStated = 0;           // bytes of the take as its header states them
        std::string ending;             // why it ended, in plain words
        // Clusters won against another open take, and the weakest of those
        // wins: the other take's miss over this one's (1 when none was contested).
        uint64_t nContested = 0;
        double dWeakestMargin = 0;
        time_t modified = 0;
        time_t accessed = 0;
    };

    // Receives how far the card's reading is, as bytes of the card read of
    // its size, after each nStep of them while more are to come: the pass
    // for headers over every cluster, then the pass that follows the takes
    // from the first header on, which counts as long as the first until its
    // own length is known.
    using Progress = std::function<void(uint64_t nDone, uint64_t nTotal)>;

    // sourceFd: the card, open for reading, that card was read from.
    TakeFinder(const CardImage& card, int sourceFd, Progress progress = {}, uint64_t nStep = 0)
        : m_card(card), m_fd(sourceFd), m_progress(std::move(progress)), m_nStep(nStep)
    {
    }

    // Every take the entries name, intact ones first as found, lost ones
    // followed to their end. False, with errno set, when the card cannot be read.
    bool Find(std::vector<Take>& takes);

    // A block continues a take while its jump, over the steps the take's
    // samples made just before it, stays at most this; the audio of one take
    // stays under about 8 at all but a few in ten thousand boundaries.
    static constexpr double kMaxJump = 30.0;

private:
    struct Trail;
    bool ReadHead(const CardImage::Entry& entry, Take& take);
    bool Follow(std::vector<Take*>& followed);
    bool EndAsStated(Take& take);
    bool FindHeadless(std::vector<Take>& takes);
    // Settles the format of a headerless run of clusters from the card's
    // other takes (siblings: those found with their headers) and its audio,
    // and follows it; its header cluster 0 when it holds no audio. False when
    // it cannot be read.
    bool SettleHeadless(Take& take, const std::vector<FormatEvidence::CardTake>& siblings);
    // One more cluster looked at, in either pass.
    void Passed();

    const CardImage& m_card;
    int m_fd;
    Progress m_progress;
    uint64_t m_nStep;
    uint64_t m_nPassed = 0;   // clusters looked at in both passes
    uint64_t m_nFollowed = 0; // clusters the second pass covers; the first's until known
    uint64_t m_nReported = 0; // bytes of the card last reported
    // Free clusters the first pass found to begin with zeros (a bit a
    // cluster, from cluster 2): no audio to look at for a headerless take.
    std::vector<bool> m_emptyStart;
};
