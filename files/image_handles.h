// The handles of the trees that build images (ISO9660/Joliet today). A
// tree registers its handle while it lives, so that a recorder can take a
// handle from the C API, check it is an image tree, and read the image as
// a chain without knowing which kind of tree made it.
#pragma once

class CQuorvane_FileChain;

class CQuorvane_ImageSource {
 public:
  virtual ~CQuorvane_ImageSource() = default;
  // The built image, rewound at its first byte by the recorder; nullptr
  // while the image is not built.
  virtual CQuorvane_FileChain* BuiltImage() = 0;
};

void QuorvaneI_RegisterImageHandle(const void* handle, CQuorvane_ImageSource* source);
void QuorvaneI_UnregisterImageHandle(const void* handle);
// nullptr when the handle is not that of a living image tree.
CQuorvane_ImageSource* QuorvaneI_ImageOfHandle(const void* handle);
