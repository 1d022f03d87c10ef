// Resource ids of the plug-in module: shared by the resource script and the code.
#pragma once

#define IDD_NEW_VERSION        2001
#define IDD_SETTINGS           2002
#define IDR_REGISTRY           2004
#define IDI_FOUND              2007
#define IDI_IDLE               2008

#define IDS_SERVICE_HOST       2009
#define IDS_LOOKUP_PATH        2010
#define IDS_REFERRER_NAME      2011
#define IDS_APP_NAME           2012
#define IDS_HOME_PAGE          2013
#define IDS_PLUGIN_NAME        2014
#define IDS_PLUGIN_DESCRIPTION 2015
#define IDS_LYRICS_FOUND       2016
#define IDS_CLICK_FOR_LYRICS   2017
#define IDS_LYRICS_NOT_FOUND   2018
#define IDS_DOWNLOAD_PAGE      2019
#define IDS_VERSION_PATH       2020
#define IDS_STOPPED            2021

// Controls of the two dialogs.
#define IDC_DONT_ASK           2000
#define IDC_MESSAGE            2001
#define IDC_DELAY_EDIT         2002
#define IDC_DELAY_SPIN         2003
#define IDC_TIMEOUT_EDIT       2004
#define IDC_TIMEOUT_SPIN       2005
#define IDC_ENABLE_BALLOON     2006
#define IDC_CHECK_UPDATES      2007
