// Resource ids of the wizard's pages: their dialog templates, the pictures
// they show and every control, page by page. Plain #defines, since the
// resource compiler reads this file too.
#pragma once

// Pictures.
#define IDB_SIDE_PICTURE 129    // 164 x 290, the welcome and finish pages' side
#define IDB_HEADER_PICTURE 131  // 53 x 49, the header pages' top right corner
#define IDB_FOLDER_PICTURE 132  // 25 x 34, beside the destination sentence
// The same pictures drawn for 150% and 200% display scale, 1.5 and 2 times
// as large, under their id plus these (any of them may be missing). No other
// resource of setup.exe has an id above 999.
#define IDB_SCALED_150 1000
#define IDB_SCALED_200 2000
#define IDB_SIDE_PICTURE_200 2129
#define IDB_HEADER_PICTURE_200 2131
#define IDB_FOLDER_PICTURE_200 2132

// Welcome page.
#define IDD_WELCOME 102
#define IDC_WELCOME_TITLE_LEAD 1000      // 欢迎使用
#define IDC_WELCOME_SENTENCE_LEAD 1001   // 现在将安装
#define IDC_WELCOME_ADVICE 1002
#define IDC_WELCOME_INSTRUCTION 1003
#define IDC_WELCOME_PICTURE 1004
#define IDC_WELCOME_LINE 1005
#define IDC_WELCOME_NEXT 1006
#define IDC_WELCOME_TITLE_NAME 1007      // the display name in the title
#define IDC_WELCOME_TITLE_TAIL 1008      // 安装向导
#define IDC_WELCOME_SENTENCE_TAIL 1009   // 到您的电脑中。
#define IDC_WELCOME_SENTENCE_NAME 1010   // the display name in the sentence
#define IDC_WELCOME_NOTICE 1011
#define IDC_WELCOME_CANCEL 1029

// Destination page.
#define IDD_DESTINATION 130
#define IDC_DEST_FOLDER 1007             // the installation folder (edit, disabled)
#define IDC_DEST_BROWSE 1008
#define IDC_DEST_BACK 1009
#define IDC_DEST_TOP_LINE 1010
#define IDC_DEST_BOTTOM_LINE 1011
#define IDC_DEST_TITLE 1012
#define IDC_DEST_QUESTION_LEAD 1013      // 你想将
#define IDC_DEST_STATEMENT_LEAD 1014     // 安装程序将
#define IDC_DEST_BROWSE_HINT 1015
#define IDC_DEST_SPACE 1016              // the space requirement
#define IDC_DEST_HEADER_PICTURE 1017
#define IDC_DEST_FOLDER_PICTURE 1018
#define IDC_DEST_CANCEL_HINT 1019
#define IDC_DEST_QUESTION_NAME 1020
#define IDC_DEST_QUESTION_TAIL 1021      // 安装在什么地方？
#define IDC_DEST_STATEMENT_NAME 1022
#define IDC_DEST_STATEMENT_TAIL 1023     // 安装在下列文件夹中。
#define IDC_DEST_QUOTED_NAME 1024
#define IDC_DEST_NEXT 1006
#define IDC_DEST_CANCEL 1029

// Ready page.
#define IDD_READY 134
#define IDC_READY_HEADER_PICTURE 1004
#define IDC_READY_TOP_LINE 1005
#define IDC_READY_BOTTOM_LINE 1007
#define IDC_READY_BACK 1009
#define IDC_READY_TITLE 1012
#define IDC_READY_SENTENCE_LEAD 1013     // 安装程序现在准备安装
#define IDC_READY_INSTRUCTION 1014
#define IDC_READY_SENTENCE_NAME 1015
#define IDC_READY_SENTENCE_TAIL 1016     // 到您的电脑中。
#define IDC_READY_SUMMARY 1024
#define IDC_READY_INSTALL 1025
#define IDC_READY_CANCEL 1029

// Installing page. The status line 1014, the detail line 1015 and the bar
// 1026 are the install engine's to draw.
#define IDD_INSTALLING 135
#define IDC_INSTALLING_HEADER_PICTURE 1004
#define IDC_INSTALLING_TOP_LINE 1005
#define IDC_INSTALLING_BOTTOM_LINE 1007
#define IDC_INSTALLING_TITLE 1012
#define IDC_INSTALLING_HEADING_LEAD 1013 // 安装程序正在安装
#define IDC_INSTALLING_STATUS 1014
#define IDC_INSTALLING_DETAIL 1015
#define IDC_INSTALLING_HEADING_NAME 1016
#define IDC_INSTALLING_HEADING_TAIL 1017 // 到您的电脑中,请等待。
#define IDC_INSTALLING_PROGRESS 1026
#define IDC_INSTALLING_CANCEL 1029

// Finish page, both the completed and the cancelled one.
#define IDD_FINISH 136
#define IDC_FINISH_DONE 1                // IDOK: 完成
#define IDC_FINISH_PICTURE 1004
#define IDC_FINISH_LINE 1005
#define IDC_FINISH_TITLE_NAME 1012
#define IDC_FINISH_SENTENCE_LEAD 1013    // 安装程序已经在您的电脑中安装了
#define IDC_FINISH_INSTRUCTION 1014
#define IDC_FINISH_RUN_LABEL 1015        // 立即运行
#define IDC_FINISH_TITLE_TAIL 1018       // 安装向导完成 / 安装已取消。
#define IDC_FINISH_SHORTCUT_HINT 1019
#define IDC_FINISH_SENTENCE_NAME 1020
#define IDC_FINISH_RUN_NAME 1021
#define IDC_FINISH_RUN_NOW 1028
