// The page the shop serves, built into the program from shop/page/.
#pragma once

namespace shop {

struct page_file {
    const char* path;
    const char* type;
    const char* text;
};
extern const page_file page_files[4];

}  // namespace shop
