#include "site/products.h"

bool MakeRecordingProducts(const ProductsRequest& request, CatalogRecording& entry, std::string& error) {
    entry = MakeCatalogRecording(request.input);
    error = "not made yet";
    return false;
}
