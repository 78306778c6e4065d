// The story-to-box mapping: every story of a document that is to be exported gets a number, its
// link id, stored in the first box of its chain as host private data (big-endian), so that an
// import finds the box again by the same number. The Mapper is the base of the exporter and the
// importer; it owns the private working boxes and the hidden-content table of the document.
#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <string>

#include "Plugin/Filter/Hidden.h"
#include "Plugin/QAPI/QStory.h"
#include "platform/host/xtapi/XTAPI.h"

class KestoBox;
struct RunKey;
class ProgressBar;

// Private-data keys of a box link and the mark of every box an analysis touched.
constexpr uint32_t BoxLinkMarkKey = 0x09414B42;
constexpr uint32_t BoxLinkIdKey = 0x08414B42;
constexpr uint16_t BoxLinkMark = 0xACAC;

// Box private data (the values are stored big-endian). Each one first puts the host's tool
// mode to 1.
bool GetBoxPrivateData32(XTHandle box, uint32_t key, int32_t* value);
void SetBoxPrivateData16(XTHandle box, uint32_t key, uint16_t value);
void SetBoxPrivateData32(XTHandle box, uint32_t key, int32_t value);
void RemoveBoxPrivateData(XTHandle box, uint32_t key);
// A box of the current view whose data under key holds the value, or 0.
XTHandle FindBoxByPrivateData16(uint32_t key, uint16_t value);
XTHandle FindBoxByPrivateData32(uint32_t key, int32_t value);

class Mapper {
public:
    Mapper();
    virtual ~Mapper();
    Mapper(const Mapper&) = delete;
    Mapper& operator=(const Mapper&) = delete;

    bool IsLinked(XTHandle box, int32_t* id);
    void Link(XTHandle box, int32_t id);
    void Unlink(XTHandle box);
    // The box linked under id, or 0; may switch the view to the master page that holds it.
    XTHandle FindBox(int32_t id);
    // A box of an unused master page carrying the value under key, or 0; leaves the view on
    // the master pages when it finds one.
    XTHandle FindSlugFromMP(uint32_t key, uint16_t value);
    // Brings a view that shows master pages back to the layout.
    void MasterPatch();
    // Removes every link, mark and private working box; the view returns to the layout.
    void UnInstall();

    // The export side: numbers the stories, makes the private working boxes and connects;
    // answers the number of stories, 0 when there is none or on failure.
    int32_t AnaliseDocument();
    bool AnaliseText(XTHandle box, int32_t depth, int16_t index);
    bool AnaliseItem(XTHandle item, int32_t depth);
    void FindBoxFromUnusedMP(bool analyse);
    void SelectStoryStarts();
    // Counts the linked stories and fills the hidden-content table; on import also finds the
    // private working boxes. Answers false when no story is linked or a host call failed.
    bool Connect();

    // The hidden-content record of the run at the cursor (id -1 when there is none).
    void FindHidden(HiddenRecord& record, QStoryCursor& cursor) const;
    bool GetHiddenId(QStoryCursor& cursor, int32_t& id) const;

    // Visits the runs of the stories 0, 1, ... below count (while FindBox finds one when count
    // is negative): visit(cursor, text) may move the cursor past the run; when it did not, the
    // walk steps on.
    template <class Visit>
    void WalkStoryRuns(int32_t count, Visit visit);

    int32_t StoryCount() const { return mStoryCount; }
    // The number of link ids given so far.
    int32_t LinkIdCount() const { return mNextLinkId; }
    int32_t HiddenBase() const { return mHiddenBase; }
    int32_t AnchBoxLives() const { return mAnchBoxLives; }
    uint16_t MasterSpreadCount() const { return mMasterSpreadCount; }
    bool ViewOnMaster() const { return mViewOnMaster != 0; }
    const std::map<int32_t, uint16_t>& UnusedMasterMap() const { return mUnusedMasterMap; }
    const std::list<XTHandle>& SkippedItems() const { return mSkippedItems; }
    const HiddenTable& Hidden() const { return mHidden; }
    // The private id of a run key; -1 while there are no private working boxes.
    int32_t GetPrivateId(const RunKey& key) const;
    // Copies probe id of the private working boxes to position of the box; answers the
    // characters copied, 0 while there are no private working boxes.
    int32_t CopyProbe(int32_t id, XTHandle box, int32_t position);
    // The probes the layout's private working boxes hold (import side): ids 0 to count - 1.
    int32_t ProbeCount() const;
    // The private working boxes, or null.
    KestoBox* PrivateBox() const { return mPrivateBox.get(); }
    // Why the last Connect could not link the master pages' boxes: the host's call and answer;
    // empty when it could.
    const std::string& LinkRefusal() const { return mLinkRefusal; }
    // Whether a story may still hold the linking tag that the host refused to take out again.
    bool LinkTagKept() const { return mLinkTagKept; }
    ProgressBar* Progress() const { return mProgress.get(); }

protected:
    std::unique_ptr<ProgressBar> mProgress;
    uint16_t mMasterSpreadCount = 0;
    uint8_t mViewOnMaster = 0;
    std::map<int32_t, uint16_t> mUnusedMasterMap;
    int32_t mStoryCount = 0;
    int32_t mHiddenBase = 0;
    int32_t mNextLinkId = 0;
    int32_t mAnchBoxLives = 0;
    std::list<XTHandle> mSkippedItems;
    HiddenTable mHidden;
    std::unique_ptr<KestoBox> mPrivateBox;
    std::string mLinkRefusal;
    bool mLinkTagKept = false;

private:
    // Counts on while FindBox finds the next link id.
    void CountLinkedStories();
    bool CountOnUnusedMasterPages(XTHandle view, XTHandle doc);
    void AnchoredBoxPass();
    void HiddenContentPass();
    bool PrepareMasterPages();
};

template <class Visit>
void Mapper::WalkStoryRuns(int32_t count, Visit visit)
{
    for (int32_t id = 0; count < 0 || id < count; ++id) {
        const XTHandle box = FindBox(id);
        if (!box) {
            if (count < 0)
                return;
            continue;
        }
        QStoryText text(box);
        QStoryCursor cursor(text);
        while (cursor.HasMore()) {
            const int32_t position = cursor.GetPosition();
            visit(cursor, text);
            if (cursor.HasMore() && cursor.GetPosition() == position)
                cursor.Next();
        }
    }
}
