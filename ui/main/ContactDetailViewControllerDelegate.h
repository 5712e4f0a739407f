#pragma once

#include <QString>

/// What the detail pop-overs tell the contact list.
class ContactDetailViewControllerDelegate
{
public:
    virtual ~ContactDetailViewControllerDelegate() = default;

    virtual void deleteContactWithEntityId(const QString &entityId) = 0;
    virtual void disMissMySelf() = 0;
    virtual void showJoinConferenceProgressWindow() = 0;
    virtual void hideJoinConferenceProgressWindow() = 0;
};
