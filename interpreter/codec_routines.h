// The routines of the image codecs (system/codecs png, jpeg, bmp, gif and
// tiff): one decoder for every format, one encoder per format.
//
//   image-decode       data [any-type!]                 -> image! (none when a
//                      binary! holds no image data)
//   image-encode-bmp   img [image!] where [any-type!]   -> binary!
//   image-encode-png, image-encode-gif, image-encode-jpeg, image-encode-tiff
//
// An encoder's `where` may be a binary! (the bytes go to its tail and it is
// the answer) or anything else (a new binary! is the answer; the caller
// writes it to a file).
#pragma once

namespace zot::routines {

// Registers the entries above by name.
void register_codecs();

}  // namespace zot::routines
