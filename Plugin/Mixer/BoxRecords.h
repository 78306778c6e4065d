// Value records of host boxes, the two registries that the host's box callbacks fill, and the
// shape swap that lets the importer resize boxes of complex outline.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "Foundation/ModuleGlobals.h"
#include "platform/host/documents/XTDocSuites.h"

// The first of the host's box-kind predicates: the box holds text.
constexpr uint32_t kBoxKindText = 0x01;

// Any host box, as far as the master-page handling needs it.
struct ct_Box {
    ct_Box() = default;
    // Reads the box's kinds and, for a box other than 0, its location.
    ct_Box(uint32_t box, uint8_t flag);

    bool IsTextBox() const { return (typeBits & kBoxKindText) != 0; }
    // The spread word of the location, signed as the summary orders it.
    int16_t SpreadWord() const { return location.spread; }

    uint32_t box = 0;
    uint32_t typeBits = 0;
    uint8_t flag = 0;
    XTBoxLocation location{};
    int32_t storyId = -1;
};

// A box on a master page and the layout boxes the host derived from it.
struct ct_MBox : ct_Box {
    ct_MBox() = default;
    ct_MBox(uint32_t box, int16_t masterSpread);

    // Adds a derived layout box; answers whether it was new.
    bool AddUsage(const ct_Box& layout);

    std::map<uint32_t, ct_Box> usages;
    int16_t masterSpread = 0;
    std::string spreadName;
};

using MasterBoxMap = std::map<uint32_t, ct_MBox>;
using AutotextBoxMap = std::map<uint32_t, ct_Box>;

// Master box -> its record with usages; an entry, once made, is never replaced.
extern ModuleGlobal<MasterBoxMap> MasterBoxRegistry;
// Layout boxes the host linked as automatic text.
extern ModuleGlobal<AutotextBoxMap> AutotextBoxRegistry;

// Adds the two registries to the module's initialisation list.
void RegisterBoxRegistries();

// Sets a box's bounds (16.16) through its host record. Simple shapes (5-9) take the bounds
// directly; complex ones (10, 11) have their outline swapped for a five-point rectangle
// (restore false) and swapped back (restore true), which then needs savedShape. savedWord, when
// given, keeps the record's size-lock word cleared while the box is resized. Answers 0, 1 when
// the host refused the record with a constraint violation, 12 for no box or record, an
// unsupported shape, or a complex shape without savedShape.
int32_t CheckBoxShape(uint32_t box, int32_t left, int32_t top, int32_t right, int32_t bottom,
                      uint32_t* savedWord, XTHandle* savedShape, bool restore);
