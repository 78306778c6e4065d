// The long documents the import and export benchmarks share, so that their figures compare:
// paragraphs of two formatted runs with a hidden pair in every fifth, either in stories of 10
// paragraphs (a text box each, four boxes a page) or in one story chained through a box a page.
#pragma once

#include <cstring>
#include <string>

#include "platform/host/documents/testing/DirectoryExample.h"

namespace kesto_bench {

enum class Shape { Stories, Chained };

inline const char* ShapeName(Shape shape) { return shape == Shape::Stories ? "stories" : "chained"; }

inline bool ParseShape(const char* name, Shape* shape)
{
    for (Shape s : {Shape::Stories, Shape::Chained})
        if (std::strcmp(name, ShapeName(s)) == 0) {
            *shape = s;
            return true;
        }
    return false;
}

inline std::string LongDocument(Shape shape, int paragraphs)
{
    return xthost::doc::BuildLongDocument(paragraphs, shape == Shape::Chained);
}

}  // namespace kesto_bench
