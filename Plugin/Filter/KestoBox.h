// The two private working boxes: a formatted sample of every distinct text run of a document,
// kept in the document itself. The export side writes them and answers each run key's private
// id; the import side cuts them into probes whose formatting it copies into the stories it
// rebuilds.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "Plugin/Shell/RefObject.h"
#include "platform/host/documents/XTDocSuites.h"

class Mapper;
class QStoryCursor;

// What one formatting sample stands for: the paragraph run's value (in the host its paragraph
// format and run kind) together with the style run's value (its character format). Runs of one
// paragraph format differ in their character formats, so only the pair fixes a run's look.
struct RunKey {
    uint16_t para = 0;
    uint32_t style = 0;
    bool operator<(const RunKey& o) const { return para != o.para ? para < o.para : style < o.style; }
    bool operator==(const RunKey& o) const { return para == o.para && style == o.style; }
};

// The key of the run under the cursor.
RunKey RunKeyAt(const QStoryCursor& cursor);

class KestoBox : private CantCopy {
public:
    // A range of characters of a private box.
    struct Probe {
        int32_t box = 0;
        int32_t start = 0;
        int32_t length = 0;
        // Copies the range to position of the destination box's story; answers the characters
        // copied (the probe's length), 0 when nothing was copied.
        int32_t CopyTo(XTHandle destinationBox, int32_t position) const;
    };

    KestoBox() = default;
    virtual ~KestoBox() = default;
    // The private id of a run key (export side); -1 when there is none.
    virtual int32_t GetPrivateId(const RunKey& key) const;
    // Copies probe id to position of the destination box (import side); answers the characters
    // copied, 0 when nothing was copied.
    virtual int32_t CopyProbe(int32_t id, XTHandle destinationBox, int32_t position);
    // The probes there are to copy (import side).
    virtual int32_t ProbeCount() const { return 0; }

    int32_t box = 0;
    int32_t mode = 0;
};

// A sample of one run key: a short range of a story with exactly the formatting of its run.
struct SampleRecord {
    int32_t box = 0;
    int32_t start = 0;
    int32_t length = 0;
    XTCharFormat attributes{};
    bool settled = false;
};

class KestoBoxExp : public KestoBox {
public:
    // A new object with its two private boxes made, linked and filled; null when that failed.
    static KestoBoxExp* New(Mapper& owner);

    int32_t GetPrivateId(const RunKey& key) const override;
    // Fills the two private boxes and the map of private ids.
    void Install();

    int32_t SecondBox() const { return mSecondBox; }
    const std::map<RunKey, int32_t>& PrivateIds() const { return mPrivateIds; }

private:
    explicit KestoBoxExp(Mapper& owner);
    void GroupPatch_Jap1(std::vector<SampleRecord>& records, const std::vector<RunKey>& keys);

    Mapper& mOwner;
    std::map<RunKey, int32_t> mPrivateIds;
    int32_t mSecondBox = 0;
    int32_t mWidth = 2;
};

class KestoBoxImp : public KestoBox {
public:
    // A new object over the private boxes found in the document; null when that failed.
    static KestoBoxImp* New(Mapper& owner);

    int32_t CopyProbe(int32_t id, XTHandle destinationBox, int32_t position) override;
    int32_t ProbeCount() const override { return static_cast<int32_t>(mProbes.size()); }

    const std::vector<Probe>& Probes() const { return mProbes; }
    int32_t Width() const { return mWidth; }

private:
    explicit KestoBoxImp(Mapper& owner);

    std::vector<Probe> mProbes;
    int32_t mWidth = 0;
};
