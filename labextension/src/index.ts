// The Zorvik workspaces in JupyterLab and Notebook 7: the sidebar panel, the
// status bar item, the palette's commands and the launcher card.
import { ILayoutRestorer, JupyterFrontEnd, JupyterFrontEndPlugin } from '@jupyterlab/application';
import { ICommandPalette, InputDialog, Notification } from '@jupyterlab/apputils';
import { ILauncher } from '@jupyterlab/launcher';
import { ServerConnection } from '@jupyterlab/services';
import { ISettingRegistry } from '@jupyterlab/settingregistry';
import { IStatusBar } from '@jupyterlab/statusbar';

import { ZorvikClient } from './api';
import { zorvikIcon } from './icon';
import { WorkspacesModel } from './model';
import { PANEL_ID, WorkspacesPanel } from './panel';
import { choices } from './picker';
import { WorkspaceStatus } from './status';

const PLUGIN_ID = 'corvanix-zorvik-workspaces:plugin';
const ROUTE = 'api/zorvik/workspaces';
const CATEGORY = 'Zorvik';

export namespace CommandIDs {
  export const open = 'zorvik:open-panel';
  export const join = 'zorvik:join';
  export const leave = 'zorvik:leave';
}

function activate(
  app: JupyterFrontEnd,
  palette: ICommandPalette | null,
  launcher: ILauncher | null,
  statusBar: IStatusBar | null,
  settingRegistry: ISettingRegistry | null,
  restorer: ILayoutRestorer | null
): void {
  // The server connection adds the token, the XSRF header and the base URL.
  const settings = ServerConnection.makeSettings();
  const client = new ZorvikClient(
    (url, init) => ServerConnection.makeRequest(url, init, settings),
    settings.baseUrl.replace(/\/?$/, '/') + ROUTE
  );
  const model = new WorkspacesModel(client);
  model.failed.connect((_, text) => {
    Notification.error(text, { autoClose: 8000 });
  });

  const panel = new WorkspacesPanel(model);
  app.shell.add(panel, 'left', { rank: 650 });
  // Open again after a reload where it was open.
  restorer?.add(panel, PANEL_ID);

  const { commands } = app;
  commands.addCommand(CommandIDs.open, {
    label: args => (args.isLauncher ? 'Zorvik Workspaces' : 'Open Zorvik Workspaces Panel'),
    caption: 'Lists the Zorvik workspaces, to join one or leave it',
    icon: zorvikIcon,
    execute: () => {
      // Its activation puts the keyboard focus in it (WorkspacesPanel.onActivateRequest).
      app.shell.activateById(PANEL_ID);
      return model.reload();
    }
  });
  commands.addCommand(CommandIDs.join, {
    label: 'Join Zorvik Workspace\u2026',
    caption: 'Picks a Zorvik workspace by name and joins it',
    execute: async () => {
      await model.reload();
      const offered = choices(model.workspaces ?? []);
      if (offered.size === 0) {
        if (model.error === null) {
          Notification.info('No Zorvik workspace to join.', { autoClose: 5000 });
        }
        return;
      }
      const picked = await InputDialog.getItem({
        title: 'Join a Zorvik workspace',
        label: 'Zorvik workspace',
        items: [...offered.keys()]
      });
      const digits = picked.button.accept && picked.value !== null ? offered.get(picked.value) : undefined;
      if (digits !== undefined) {
        await model.join(digits);
      }
    }
  });
  commands.addCommand(CommandIDs.leave, {
    label: 'Leave Zorvik Workspace',
    caption: 'Leaves the joined Zorvik workspace',
    isEnabled: () => model.joined !== null,
    execute: () => model.leave()
  });
  model.changed.connect(() => commands.notifyCommandChanged(CommandIDs.leave));

  if (palette) {
    for (const command of [CommandIDs.open, CommandIDs.join, CommandIDs.leave]) {
      palette.addItem({ command, category: CATEGORY });
    }
  }
  if (launcher) {
    launcher.add({ command: CommandIDs.open, category: 'Other', rank: 50 });
  }
  if (statusBar) {
    statusBar.registerStatusItem(PLUGIN_ID, {
      item: new WorkspaceStatus(model, () => void commands.execute(CommandIDs.open)),
      align: 'left',
      rank: 50
    });
  }

  // Joins made elsewhere (the standalone page, another tab) show when the
  // window comes back and at the interval of the settings.
  const refresh = () => void model.reload('refresh');
  window.addEventListener('focus', refresh);
  document.addEventListener('visibilitychange', () => {
    if (document.visibilityState === 'visible') {
      refresh();
    }
  });
  let timer = 0;
  const every = (seconds: number) => {
    window.clearInterval(timer);
    timer = seconds > 0 ? window.setInterval(refresh, seconds * 1000) : 0;
  };
  every(30);
  if (settingRegistry) {
    settingRegistry
      .load(PLUGIN_ID)
      .then(loaded => {
        const follow = () => every(loaded.get('refreshInterval').composite as number);
        loaded.changed.connect(follow);
        follow();
      })
      .catch(reason => console.warn('Zorvik workspaces: the settings did not load', reason));
  }
  void model.reload('refresh');
}

const plugin: JupyterFrontEndPlugin<void> = {
  id: PLUGIN_ID,
  description: 'The Zorvik workspaces panel, status bar item, commands and launcher card.',
  autoStart: true,
  optional: [ICommandPalette, ILauncher, IStatusBar, ISettingRegistry, ILayoutRestorer],
  activate
};

export default plugin;
