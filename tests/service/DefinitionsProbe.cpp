#include "DefinitionsProbe.h"

#include "definitions/WorkstationEventDefinitions.h"

uint32_t LoadDefinitionsWithAPathObject() {
    CWorkstationEventDefinitions definitions(CWorkstationEventDefinitions::kWithoutRefresh);
    definitions.LoadFromXml(
        L"<Korvex><Success>true</Success><EventDefinition><EventCode>5136</EventCode>"
        L"<PropertyCode>ParentOU:DN</PropertyCode><PropertyValue>9</PropertyValue>"
        L"<PropertyType>Special</PropertyType></EventDefinition></Korvex>");
    return definitions.GetDefinitions().at(0)->PropertyRules.at(0)->Pathname().LastResult();
}
