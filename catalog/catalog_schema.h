// The catalog's tables, version kCatalogSchemaVersion (catalog/catalog.h);
// docs/catalog.md describes each column.
#pragma once

// The statements that create the tables and indexes of an empty catalog.
const char* CatalogSchemaSql();
